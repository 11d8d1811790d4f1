/* Finds TOVRIKs through hidapi's hidraw backend, as other HID software does, and talks to the
 * first: one output report, one feature report. Run inside tovrik-emu by the e2e tests.
 *
 *   device <vendor> <product> iface <n> manufacturer <m> product <p> serial <s>   (each)
 *   all <n>                 every HID device hidapi sees (once, whatever its usages)
 *   wrote <n>               hid_write of an output report
 *   feature <n> <hex ...>   hid_get_feature_report
 */
#include <hidapi.h>
#include <stdio.h>
#include <string.h>

int main(void) {
    if (hid_init() != 0) return 2;
    struct hid_device_info* all = hid_enumerate(0, 0);
    int count = 0;
    /* hidapi lists a device once per top-level usage, one after the other. */
    for (struct hid_device_info* d = all; d != NULL; d = d->next)
        if (d->next == NULL || strcmp(d->path, d->next->path) != 0) ++count;
    hid_free_enumeration(all);

    struct hid_device_info* found = hid_enumerate(0x1774, 0x9851);
    for (struct hid_device_info* d = found; d != NULL; d = d->next) {
        printf("device %04x %04x iface %d manufacturer %ls product %ls serial %ls usage %04x\n",
               d->vendor_id, d->product_id, d->interface_number,
               d->manufacturer_string ? d->manufacturer_string : L"-",
               d->product_string ? d->product_string : L"-",
               d->serial_number ? d->serial_number : L"-", d->usage_page);
    }
    printf("all %d\n", count);
    int status = found == NULL ? 1 : 0;
    hid_device* device = found != NULL ? hid_open_path(found->path) : NULL;
    hid_free_enumeration(found);
    if (device != NULL) {
        const unsigned char report[8] = {0x00, 0x79, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00};
        printf("wrote %d\n", hid_write(device, report, sizeof report));
        unsigned char feature[8] = {0};
        const int n = hid_get_feature_report(device, feature, sizeof feature);
        printf("feature %d", n);
        for (int i = 0; i < n && i < (int)sizeof feature; ++i) printf(" %02X", feature[i]);
        printf("\n");
        hid_close(device);
    } else {
        status = 1;
    }
    hid_exit();
    return status;
}
