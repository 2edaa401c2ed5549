#pragma once

namespace norvela::TcpNoDelay {

// Turns Nagle's algorithm off on every TCP connection the process holds. Qt's HTTP layer
// leaves it on, so the last piece of a request body waits for the acknowledgement of the
// pieces before it: up to the peer's delayed-ack time (40 ms on Linux) at the end of every
// upload piece. Qt gives no access to the sockets it opens, hence the sweep over all of
// them; a socket that is not TCP is left alone, and the option is harmless on any that is.
void applyToOpenConnections();

} // namespace norvela::TcpNoDelay
