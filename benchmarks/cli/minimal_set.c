/* The least a program can do to set a frequency: open the node, check its ids, write the
 * report. tovrikctl set as a whole process is measured against it. */
#include <fcntl.h>
#include <linux/hidraw.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "/dev/hidraw0";
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) return 1;
    struct hidraw_devinfo info;
    if (ioctl(fd, HIDIOCGRAWINFO, &info) != 0 || (info.vendor & 0xFFFF) != 0x1774 ||
        (info.product & 0xFFFF) != 0x9851) {
        close(fd);
        return 1;
    }
    /* 12.5 MHz */
    const unsigned char report[8] = {0x00, 0x72, 0x1C, 0xC7, 0x11, 0x01, 0x00, 0x00};
    const int ok = write(fd, report, sizeof report) == (ssize_t)sizeof report;
    close(fd);
    return ok ? 0 : 1;
}
