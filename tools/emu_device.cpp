#include "tools/emu_device.h"

#include <sys/ioctl.h>
// hidraw.h needs the ioctl macros first.
#include <linux/hidraw.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "tools/emu_text.h"

namespace tovrik::emu {
namespace {

std::vector<std::uint8_t> Bytes(const guint8* data, std::size_t size) {
    return data == nullptr ? std::vector<std::uint8_t>{}
                           : std::vector<std::uint8_t>(data, data + size);
}

void Answer(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::size_t size, const void* data,
            glong result) {
    GError* error = nullptr;
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(arg, 0, size, &error);
    if (buffer == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    umockdev_ioctl_data_update(buffer, 0, static_cast<guint8*>(const_cast<void*>(data)),
                               static_cast<gint>(size));
    umockdev_ioctl_data_unref(buffer);
    umockdev_ioctl_client_complete(client, result, 0);
}

void AnswerText(UMockdevIoctlClient* client, UMockdevIoctlData* arg, std::size_t capacity,
                const std::string& text) {
    if (capacity == 0) {
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    std::vector<char> buffer(capacity, '\0');
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(buffer.data(), text.data(), n);
    Answer(client, arg, capacity, buffer.data(), static_cast<glong>(n + 1));
}

}  // namespace

Device::Device(const DeviceSettings& settings, FramePacer* pacer, int index, bool tovrik)
    : index(index),
      tovrik(tovrik),
      settings_(settings),
      pacer_(pacer),
      handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_.get(), "handle-ioctl", G_CALLBACK(OnIoctl), this);
    g_signal_connect(handler_.get(), "handle-write", G_CALLBACK(OnWrite), this);
    g_signal_connect(handler_.get(), "client-connected", G_CALLBACK(OnClientConnected), this);
    g_signal_connect(handler_.get(), "client-vanished", G_CALLBACK(OnClientVanished), this);
}

Device::~Device() {
    g_signal_handlers_disconnect_by_data(handler_.get(), this);
    StallWrites(false);
}

void Device::StallWrites(bool on) {
    std::vector<Stalled*> waiting;
    {
        const std::lock_guard lock(stallMutex_);
        stalling_ = on;
        if (!on) waiting.swap(stalled_);
    }
    for (Stalled* stalled : waiting) {
        g_source_remove(stalled->timeout);
        FailStalled(stalled);
    }
}

gboolean Device::OnStallLimit(gpointer data) {
    auto* stalled = static_cast<Stalled*>(data);
    Device& device = *stalled->device;
    {
        const std::lock_guard lock(device.stallMutex_);
        auto& list = device.stalled_;
        const auto at = std::find(list.begin(), list.end(), stalled);
        if (at == list.end()) return G_SOURCE_REMOVE;
        list.erase(at);
    }
    device.FailStalled(stalled);
    return G_SOURCE_REMOVE;
}

// As the kernel's USB HID output timeout does.
void Device::FailStalled(Stalled* stalled) {
    (*settings_.log)(Name() + " write timed out");
    umockdev_ioctl_client_complete(stalled->client.get(), -1, ETIMEDOUT);
    delete stalled;
}

std::string Device::Phys() const {
    return "usb-0000:00:14.0-" + std::to_string(index + 1) + "/input0";
}

std::string Device::Uniq() const {
    char serial[16];
    std::snprintf(serial, sizeof serial, "TVK%05d", index + 1);
    return tovrik ? serial : "";
}

const std::vector<std::uint8_t>& Device::ReportDescriptor() const {
    // Vendor page FF00, no report ids: a 7-byte output report and a 7-byte feature report.
    static const std::vector<std::uint8_t> tovrikReports = {
        0x06, 0x00, 0xFF,  // Usage Page (Vendor Defined FF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x07,        //   Report Count (7)
        0x09, 0x01,        //   Usage (1)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0x95, 0x07,        //   Report Count (7)
        0x09, 0x01,        //   Usage (1)
        0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
        0xC0,              // End Collection
    };
    // The boot-protocol mouse: three buttons, X and Y.
    static const std::vector<std::uint8_t> mouseReports = {
        0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19,
        0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02,
        0x95, 0x01, 0x75, 0x05, 0x81, 0x01, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15,
        0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06, 0xC0, 0xC0,
    };
    return tovrik ? tovrikReports : mouseReports;
}

// One USB port per interface, so every device has its own parent.
std::vector<std::string> Device::SysPaths() const {
    const std::string port = "1-" + std::to_string(index + 1);
    const std::string usb = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    const std::string interface = usb + "/" + port + ":1.0";
    char id[64];
    std::snprintf(id, sizeof id, "0003:%04X:%04X.%04X", Vendor(), Product(), index + 1);
    const std::string hid = interface + "/" + id;
    return {usb, interface, hid, hid + "/hidraw/" + Name()};
}

std::vector<std::string> Device::Traces() const {
    const auto paths = SysPaths();
    const auto name = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };
    return {"/sys/class/hidraw/" + Name(),
            "/sys/dev/char/247:" + std::to_string(index),
            "/sys/bus/hid/devices/" + name(paths[2]),
            "/sys/bus/usb/devices/" + name(paths[1]),
            "/sys/bus/usb/devices/" + name(paths[0]),
            DevNode(),
            "/dev/.node/" + Name(),
            paths[0]};
}

std::string Device::Description() const {
    const auto paths = SysPaths();
    const auto at = [](const std::string& path) { return "P: " + path.substr(4) + "\n"; };
    char hidId[64];
    std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", Vendor(), Product());
    char vendor[8];
    char product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", Vendor());
    std::snprintf(product, sizeof product, "%04x", Product());
    char modalias[64];
    std::snprintf(modalias, sizeof modalias, "hid:b0003g0001v%08Xp%08X", Vendor(), Product());
    char devnum[16];
    std::snprintf(devnum, sizeof devnum, "%03d", index + 2);  // 1 is the root hub
    std::string descriptor;
    for (const std::uint8_t byte : ReportDescriptor()) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(byte));
        descriptor += hex;
    }
    std::ostringstream s;
    // Child first: umockdev then adds the parents before it.
    s << at(paths[3]) << "N: " << Name() << "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=" << DevNode()
      << "\nE: MAJOR=247\nE: MINOR=" << index << "\nA: dev=247:" << index << "\n\n";
    s << at(paths[2]) << "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=" << hidId
      << "\nE: HID_NAME=" << HidName() << "\nE: HID_PHYS=" << Phys() << "\nE: HID_UNIQ=" << Uniq()
      << "\nE: MODALIAS=" << modalias << "\nH: report_descriptor=" << descriptor << "\n\n";
    s << at(paths[1]) << "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid"
      << "\nE: INTERFACE=3/" << (tovrik ? "0/0" : "1/2") << "\nA: bInterfaceNumber=00"
      << "\nA: bInterfaceClass=03\nA: bInterfaceSubClass=" << (tovrik ? "00" : "01")
      << "\nA: bInterfaceProtocol=" << (tovrik ? "00" : "02") << "\nA: bAlternateSetting= 0"
      << "\nA: bNumEndpoints=01\n\n";
    s << at(paths[0])
      << "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: PRODUCT=" << vendor << "/"
      << product << "/100\nE: BUSNUM=001\nE: DEVNUM=" << devnum << "\nA: idVendor=" << vendor
      << "\nA: idProduct=" << product
      << "\nA: manufacturer=" << (tovrik ? "Tovrik Instruments" : "Generic")
      << "\nA: product=" << (tovrik ? "TOVRIK" : "USB Mouse") << "\n"
      << (tovrik ? "A: serial=" + Uniq() + "\n" : "")
      << "A: bcdDevice=0100\nA: speed=12\nA: busnum=1\nA: devnum=" << index + 2
      << "\nA: bNumInterfaces= 1\nA: bDeviceClass=00\n";
    return s.str();
}

void Device::OnClientConnected(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto& device = *static_cast<Device*>(self);
    device.clients_[client] = device.generation;
}

void Device::OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<Device*>(self)->clients_.erase(client);
}

gboolean Device::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<Device*>(self)->Ioctl(client);
}

gboolean Device::OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<Device*>(self)->Write(client);
}

bool Device::Gone(UMockdevIoctlClient* client) const {
    if (!present) return true;
    const auto it = clients_.find(client);
    return it != clients_.end() && it->second != generation;
}

// The caller says in the structure's first field how many bytes it wants, as the kernel
// reads it; at most the descriptor's size is copied.
void Device::AnswerDescriptor(UMockdevIoctlClient* client, UMockdevIoctlData* arg) const {
    GError* error = nullptr;
    UMockdevIoctlData* buffer =
        umockdev_ioctl_data_resolve(arg, 0, sizeof(hidraw_report_descriptor), &error);
    const ErrorPtr owned(error);
    if (buffer == nullptr || buffer->data_len < static_cast<gint>(sizeof(__u32))) {
        if (buffer != nullptr) umockdev_ioctl_data_unref(buffer);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    __u32 wanted = 0;
    std::memcpy(&wanted, buffer->data, sizeof wanted);
    if (wanted > HID_MAX_DESCRIPTOR_SIZE - 1) {
        umockdev_ioctl_data_unref(buffer);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    std::vector<std::uint8_t> bytes = ReportDescriptor();
    bytes.resize(std::min<std::size_t>(wanted, bytes.size()));
    if (!bytes.empty()) {
        umockdev_ioctl_data_update(buffer, offsetof(hidraw_report_descriptor, value), bytes.data(),
                                   static_cast<gint>(bytes.size()));
    }
    umockdev_ioctl_data_unref(buffer);
    umockdev_ioctl_client_complete(client, 0, 0);
}

gboolean Device::Ioctl(UMockdevIoctlClient* client) {
    if (Gone(client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (_IOC_TYPE(request) != 'H') {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    const std::size_t size = _IOC_SIZE(request);
    switch (_IOC_NR(request)) {
        case _IOC_NR(HIDIOCGRAWINFO): {
            hidraw_devinfo info{};
            info.bustype = 3;  // BUS_USB
            info.vendor = static_cast<__s16>(Vendor());
            info.product = static_cast<__s16>(Product());
            Answer(client, arg, sizeof info, &info, 0);
            return TRUE;
        }
        case _IOC_NR(HIDIOCGRDESCSIZE): {
            const int descriptorSize = static_cast<int>(ReportDescriptor().size());
            Answer(client, arg, sizeof descriptorSize, &descriptorSize, 0);
            return TRUE;
        }
        case _IOC_NR(HIDIOCGRDESC):
            AnswerDescriptor(client, arg);
            return TRUE;
        case _IOC_NR(HIDIOCGRAWNAME(0)):
            AnswerText(client, arg, size, HidName());
            return TRUE;
        case _IOC_NR(HIDIOCGRAWPHYS(0)):
            AnswerText(client, arg, size, Phys());
            return TRUE;
        case _IOC_NR(HIDIOCGRAWUNIQ(0)):
            AnswerText(client, arg, size, Uniq());
            return TRUE;
        case _IOC_NR(HIDIOCGFEATURE(0)): {
            if (!tovrik) {
                // Other devices have no such report.
                umockdev_ioctl_client_complete(client, -1, EPIPE);
                return TRUE;
            }
            if (refuseFeature) {
                (*settings_.log)(Name() + " refused get-feature");
                umockdev_ioctl_client_complete(client, -1, EIO);
                return TRUE;
            }
            const auto& v = settings_.version;
            const std::uint8_t feature[8] = {0, v[0], v[1], v[2], 0, 0, 0, 0};
            const std::size_t n = std::min<std::size_t>(size, sizeof feature);
            if (n == 0) {
                umockdev_ioctl_client_complete(client, -1, EINVAL);
                return TRUE;
            }
            (*settings_.log)(Name() + " get-feature " + HexBytes(Bytes(feature, n)));
            Answer(client, arg, n, feature, static_cast<glong>(n));
            return TRUE;
        }
        default:
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
    }
}

gboolean Device::Write(UMockdevIoctlClient* client) {
    if (Gone(client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    if (refuseWrite) {
        (*settings_.log)(Name() + " refused write");
        umockdev_ioctl_client_complete(client, -1, EIO);
        return TRUE;
    }
    {
        const std::lock_guard lock(stallMutex_);
        if (stalling_) {
            // The limit runs on the main loop, where "stall-write off" arrives too.
            g_object_ref(client);
            auto* stalled = new Stalled{this, GObjectPtr<UMockdevIoctlClient>(client)};
            stalled->timeout = g_timeout_add_seconds(static_cast<guint>(kStallLimit.count()),
                                                     OnStallLimit, stalled);
            stalled_.push_back(stalled);
            (*settings_.log)(Name() + " write stalled");
            return TRUE;
        }
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::size_t size = arg->data_len > 0 ? static_cast<std::size_t>(arg->data_len) : 0;
    const auto bytes = Bytes(arg->data, size);
    std::string line = Name() + " write " + HexBytes(bytes);
    if (settings_.decode) line += " -> " + DecodeWrite(bytes);
    if (pacer_ != nullptr) {
        pacer_->CompleteAt(pacer_->NextFrame(endpoint_), client, static_cast<glong>(size),
                           std::move(line));
        return TRUE;
    }
    (*settings_.log)(line);
    umockdev_ioctl_client_complete(client, static_cast<glong>(size), 0);
    return TRUE;
}

}  // namespace tovrik::emu
