// Socket activation: the listening socket systemd (or systemd-socket-activate) hands over.
#pragma once

#include <string>

namespace service {

// The one listening socket handed to this process through LISTEN_PID and LISTEN_FDS (fd 3),
// or -1 when none was handed over. A handover this service cannot use (several sockets, or one
// that is not a listening TCP socket) gives -1 with a message in error. The variables are
// removed from the environment, so that no child takes them for its own.
int HandedListeningSocket(std::string& error);

}  // namespace service
