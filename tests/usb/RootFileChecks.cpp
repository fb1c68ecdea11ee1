#include "tests/usb/RootFileChecks.h"

#include <sys/syscall.h>
#include <unistd.h>

RootFileChecks::RootFileChecks()
{
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0;
    if (syscall(SYS_capget, &header_, saved_) != 0)
        return;
    const unsigned mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if ((saved_[0].effective & mask) == 0) {
        ok_ = true;
        return;
    }
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~mask;
    if (syscall(SYS_capset, &header_, reduced) != 0)
        return;
    dropped_ = true;
    ok_ = true;
}

RootFileChecks::~RootFileChecks()
{
    if (dropped_)
        syscall(SYS_capset, &header_, saved_);
}
