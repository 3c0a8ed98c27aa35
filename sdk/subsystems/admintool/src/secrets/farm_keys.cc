#include "secrets/farm_keys.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "zel/runtime/secure.h"

namespace zel::secrets {
namespace {

constexpr std::size_t kHexDigits = 2 * SecretKey::kSize;

std::string Join(const std::string& dir, const char* name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Writes the key's digits into a new file (never through a link, never over a file).
bool WriteKeyFile(const std::string& path, const SecretKey& key, std::string* error) {
  char text[kHexDigits + 2];
  sodium_bin2hex(text, kHexDigits + 1, key.data(), SecretKey::kSize);
  text[kHexDigits] = '\n';
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool ok = fd >= 0;
  if (!ok) *error = SystemError("cannot create key file", path);
  // The mode is set again in case the umask took bits the file needs (never adds any).
  if (ok && (::fchmod(fd, 0600) != 0 ||
             ::write(fd, text, kHexDigits + 1) != static_cast<ssize_t>(kHexDigits + 1) ||
             ::fsync(fd) != 0)) {
    *error = SystemError("cannot write key file", path);
    ok = false;
  }
  if (fd >= 0 && ::close(fd) != 0 && ok) {
    *error = SystemError("cannot write key file", path);
    ok = false;
  }
  sodium_memzero(text, sizeof text);
  return ok;
}

}  // namespace

bool InitFarmKeys(const std::string& dir, std::string* error) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    *error = SystemError("cannot make key folder", dir);
    return false;
  }
  const std::string transportPath = Join(dir, kTransportKeyFile);
  const std::string ticketPath = Join(dir, kTicketKeyFile);
  struct stat st;
  for (const std::string& path : {transportPath, ticketPath}) {
    if (::lstat(path.c_str(), &st) == 0) {
      *error = "key file " + path + " exists already: not overwritten";
      return false;
    }
  }
  if (!WriteKeyFile(transportPath, SecretKey::Random(), error)) return false;
  if (!WriteKeyFile(ticketPath, SecretKey::Random(), error)) {
    ::unlink(transportPath.c_str());
    return false;
  }
  return true;
}

bool LoadKeyFile(const std::string& path, SecretKey* key, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = errno == ENOENT ? "missing key file " + path + " (make the keys with --init-keys)"
                             : SystemError("cannot open key file", path);
    return false;
  }
  struct stat st;
  char text[kHexDigits + 2];
  ssize_t got = -1;
  if (::fstat(fd, &st) != 0) {
    *error = SystemError("cannot read key file", path);
  } else if (!S_ISREG(st.st_mode)) {
    *error = "key file " + path + " is not a regular file";
  } else if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    *error = "key file " + path + " is open to others (mode " + mode + "): chmod 600 it";
  } else {
    got = ::read(fd, text, sizeof text);
    if (got < 0) *error = SystemError("cannot read key file", path);
  }
  ::close(fd);
  if (got < 0) return false;

  // 64 digits, then at most one line end.
  std::size_t digits = 0;
  while (digits < static_cast<std::size_t>(got) &&
         std::isxdigit(static_cast<unsigned char>(text[digits]))) {
    ++digits;
  }
  const std::size_t rest = static_cast<std::size_t>(got) - digits;
  bool ok = false;
  if (digits < kHexDigits && rest == 0) {
    *error = "key file " + path + " is short: " + std::to_string(digits) + " of 64 hex digits";
  } else if (digits != kHexDigits || rest > 1 || (rest == 1 && text[digits] != '\n')) {
    *error = "key file " + path + " is no key: it must hold 64 hex digits and a newline";
  } else {
    ok = sodium_hex2bin(key->data(), SecretKey::kSize, text, kHexDigits, nullptr, nullptr,
                        nullptr) == 0;
    if (!ok) *error = "key file " + path + " is no key";
  }
  sodium_memzero(text, sizeof text);
  return ok;
}

bool LoadFarmKeys(const std::string& dir, FarmKeys* keys, std::string* error) {
  FarmKeys read;
  if (!LoadKeyFile(Join(dir, kTransportKeyFile), &read.transport, error) ||
      !LoadKeyFile(Join(dir, kTicketKeyFile), &read.ticket, error)) {
    return false;
  }
  if (ZEL_SECURE_SetKey(kTransportKeyID, read.transport.data(), SecretKey::kSize) != 0) {
    *error = "cannot set the transport key";
    return false;
  }
  *keys = std::move(read);
  return true;
}

}  // namespace zel::secrets
