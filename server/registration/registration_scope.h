// Whom a registration is for: every user of the machine (the classes root)
// or only the current user (HKCU\Software\Classes), as `regsvr32 /n /i:user`
// asks through DllInstall.
#pragma once

namespace orbalin {

enum class RegistrationScope { Machine, User };

}  // namespace orbalin
