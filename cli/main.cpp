#include <iostream>

#include "cli/app.h"
#include "device/hotplug.h"

int main(int argc, char** argv) {
    return tovrik::cli::Run(argc, argv, tovrik::SystemPlatform(), std::cout, std::cerr,
                            tovrik::WatchHidInterfaces);
}
