// The access the library gives its shared kernel objects (semaphores, sections): every account of
// the machine may use them (a security descriptor whose DACL is present and null), so that programs
// running under other accounts (a service, a second user) meet the same objects. Files and folders
// get the narrower rights of StoreAccess.h. Handles made with it are never inherited: a child process the
// host starts with handle inheritance would otherwise keep a semaphore alive, and its count taken, after the
// process that took it ended.
#pragma once

#include <windows.h>

namespace pelmux::platform {

class EveryAccount {
public:
    EveryAccount()
    {
        ready_ = ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) != FALSE &&
                 ::SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE) != FALSE;
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    // Points into the object itself.
    EveryAccount(const EveryAccount&) = delete;
    EveryAccount& operator=(const EveryAccount&) = delete;

    // Null when the descriptor could not be built.
    SECURITY_ATTRIBUTES* attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

} // namespace pelmux::platform
