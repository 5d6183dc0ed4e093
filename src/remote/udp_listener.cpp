#include "remote/udp_listener.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "app/startup.h"
#include "platform/forms.h"

namespace kestovane {

std::unique_ptr<UdpDataHandler> RemoteListener;
uint16_t RemoteListenerPort = kRemoteListenerPort;

UdpDataHandler::UdpDataHandler(uint16_t port) : port_(port) {
  socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) throw Exception(std::string("Could not open the remote listener: ") + std::strerror(errno));
  const int size = kRemoteListenerBufferSize;
  setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    const int err = errno;
    close(socket_);
    throw Exception("Could not bind socket. UDP port " + std::to_string(port) + ": " + std::strerror(err));
  }
  socklen_t length = sizeof address;
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { Receive(); });
}

UdpDataHandler::~UdpDataHandler() {
  if (wake_[1] >= 0) {
    const char stop = 0;
    (void)!write(wake_[1], &stop, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : {socket_, wake_[0], wake_[1]})
    if (fd >= 0) close(fd);
}

void UdpDataHandler::Receive() {
  std::vector<char> buffer(kRemoteListenerBufferSize);
  pollfd fds[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (fds[0].revents & POLLIN) {
      // Received and dropped: nobody answers and nothing reads it.
      if (recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT) >= 0) received_.fetch_add(1);
    }
  }
}

bool CommandLineAsksForListener(int argc, char** argv) {
  return argc > 1 && argv && argv[1] && strcasecmp(argv[1], "\\P") == 0;
}

void StartRemoteListenerIfAsked() {
  if (RemoteListener || !CommandLineAsksForListener(ProgramCommandLine.argc, ProgramCommandLine.argv)) return;
  RemoteListener = std::make_unique<UdpDataHandler>(RemoteListenerPort);
}

}  // namespace kestovane
