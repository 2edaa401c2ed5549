#include "TcpNoDelay.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace norvela::TcpNoDelay {

void applyToOpenConnections() {
#ifdef Q_OS_LINUX
    DIR* const dir = ::opendir("/proc/self/fd");
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ::dirfd(dir))
            continue;
        // Another thread may close and reuse the number meanwhile: whatever it is by then, a
        // check that fails leaves it alone, and the option cannot hurt another TCP socket.
        int type = 0;
        socklen_t length = sizeof type;
        if (::getsockopt(int(fd), SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
            continue;
        sockaddr_storage address{};
        socklen_t addressLength = sizeof address;
        if (::getsockname(int(fd), reinterpret_cast<sockaddr*>(&address), &addressLength) != 0 ||
            (address.ss_family != AF_INET && address.ss_family != AF_INET6))
            continue;
        const int on = 1;
        ::setsockopt(int(fd), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ::closedir(dir);
#endif
}

} // namespace norvela::TcpNoDelay
