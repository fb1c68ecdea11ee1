#pragma once

#include <linux/capability.h>

// While it lives, the calling thread is subject to file permission checks even as root (it
// drops CAP_DAC_OVERRIDE and CAP_DAC_READ_SEARCH from its effective set), so a test can see
// what a user without access to a device node sees. Does nothing for other users, who are
// checked anyway.
class RootFileChecks {
public:
    RootFileChecks();
    ~RootFileChecks();
    RootFileChecks(const RootFileChecks&) = delete;
    RootFileChecks& operator=(const RootFileChecks&) = delete;

    bool active() const { return ok_; }   // false: the checks could not be switched on

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
    bool ok_ = false;
};
