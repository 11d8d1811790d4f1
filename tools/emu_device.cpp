#include "tools/emu_device.h"

#include <sys/ioctl.h>
// hidraw.h needs the ioctl macros first.
#include <linux/hidraw.h>

#include <algorithm>
#include <cerrno>
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

Device::Device(const DeviceSettings& settings, int index, bool tovrik)
    : index(index), tovrik(tovrik), settings_(settings), handler_(umockdev_ioctl_base_new()) {
    g_signal_connect(handler_.get(), "handle-ioctl", G_CALLBACK(OnIoctl), this);
    g_signal_connect(handler_.get(), "handle-write", G_CALLBACK(OnWrite), this);
    g_signal_connect(handler_.get(), "client-connected", G_CALLBACK(OnClientConnected), this);
    g_signal_connect(handler_.get(), "client-vanished", G_CALLBACK(OnClientVanished), this);
}

Device::~Device() {
    g_signal_handlers_disconnect_by_data(handler_.get(), this);
}

// One USB port per interface, so every device has its own parent.
std::string Device::HidSysPath() const {
    char id[64];
    std::snprintf(id, sizeof id, "0003:%04X:%04X.%04X", Vendor(), Product(), index + 1);
    const std::string port = "1-" + std::to_string(index + 1);
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port + "/" + port + ":1.0/" + id;
}

std::vector<std::string> Device::Traces() const {
    const std::string hid = HidSysPath();
    return {"/sys/class/hidraw/" + Name(),
            "/sys/dev/char/247:" + std::to_string(index),
            "/sys/bus/hid/devices/" + hid.substr(hid.rfind('/') + 1),
            DevNode(),
            "/dev/.node/" + Name(),
            hid};
}

std::string Device::Description() const {
    char hidId[64];
    std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", Vendor(), Product());
    const std::string hidPath = HidSysPath().substr(4);  // without "/sys"
    std::ostringstream s;
    s << "P: " << hidPath << "\nE: SUBSYSTEM=hid\nE: HID_ID=" << hidId
      << "\nE: HID_NAME=" << (tovrik ? "TOVRIK" : "Generic USB Mouse") << "\n\n"
      << "P: " << hidPath << "/hidraw/" << Name() << "\nN: " << Name()
      << "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=" << DevNode() << "\nA: dev=247:" << index << "\n";
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
        case _IOC_NR(HIDIOCGRAWNAME(0)):
            AnswerText(client, arg, size, tovrik ? "TOVRIK" : "Generic USB Mouse");
            return TRUE;
        case _IOC_NR(HIDIOCGRAWPHYS(0)):
            AnswerText(client, arg, size,
                       "usb-0000:00:14.0-" + std::to_string(index + 1) + "/input0");
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
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::size_t size = arg->data_len > 0 ? static_cast<std::size_t>(arg->data_len) : 0;
    const auto bytes = Bytes(arg->data, size);
    std::string line = Name() + " write " + HexBytes(bytes);
    if (settings_.decode) line += " -> " + DecodeWrite(bytes);
    (*settings_.log)(line);
    umockdev_ioctl_client_complete(client, static_cast<glong>(size), 0);
    return TRUE;
}

}  // namespace tovrik::emu
