#include "platform/PrivateNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/Socket.h"
#include "platform/UniqueFd.h"

namespace ondavox {
namespace {

std::string Errno(std::string_view what) { return std::string(what) + ": " + std::strerror(errno); }

bool WriteProcFile(const char* path, const std::string& text) {
  const UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
  if (!fd.Valid()) return false;
  return ::write(fd.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::optional<std::string> EnterNewNamespace() {
  if (::geteuid() == 0) {
    if (::unshare(CLONE_NEWNET) != 0) return Errno("unshare(CLONE_NEWNET)");
    return std::nullopt;
  }
  const uid_t uid = ::geteuid();
  const gid_t gid = ::getegid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return Errno("unshare(CLONE_NEWUSER|CLONE_NEWNET)");
  WriteProcFile("/proc/self/setgroups", "deny");
  if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    return Errno("writing the user namespace maps");
  }
  return std::nullopt;
}

std::optional<std::string> SetUpLoopback() {
  Socket control = Socket::Udp();
  if (!control.Valid()) return Errno("socket");

  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  if (::ioctl(control.Fd(), SIOCGIFFLAGS, &request) != 0) return Errno("SIOCGIFFLAGS lo");
  request.ifr_flags |= IFF_UP | IFF_MULTICAST;
  if (::ioctl(control.Fd(), SIOCSIFFLAGS, &request) != 0) return Errno("SIOCSIFFLAGS lo");

  rtentry route{};
  auto* dst = reinterpret_cast<sockaddr_in*>(&route.rt_dst);
  auto* mask = reinterpret_cast<sockaddr_in*>(&route.rt_genmask);
  dst->sin_family = AF_INET;
  dst->sin_addr.s_addr = htonl(0xE0000000u);  // 224.0.0.0
  mask->sin_family = AF_INET;
  mask->sin_addr.s_addr = htonl(0xF0000000u);  // /4
  route.rt_flags = RTF_UP;
  char device[] = "lo";
  route.rt_dev = device;
  if (::ioctl(control.Fd(), SIOCADDRT, &route) != 0 && errno != EEXIST) {
    return Errno("adding the route 224.0.0.0/4 dev lo");
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> VisibleInterfaces() {
  std::vector<std::string> names;
  if (struct if_nameindex* list = ::if_nameindex()) {
    for (struct if_nameindex* entry = list; entry->if_index != 0; ++entry) names.emplace_back(entry->if_name);
    ::if_freenameindex(list);
  }
  return names;
}

bool OnlyLoopbackVisible() {
  const std::vector<std::string> names = VisibleInterfaces();
  return names.size() == 1 && names.front() == "lo";
}

std::optional<std::string> EnterPrivateNetwork() {
  if (auto error = EnterNewNamespace()) return error;
  if (!OnlyLoopbackVisible()) return std::string("interfaces other than lo are still visible");
  return SetUpLoopback();
}

}  // namespace ondavox
