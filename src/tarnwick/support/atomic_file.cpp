#include "tarnwick/support/atomic_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>

namespace tarnwick::support::files {

namespace {

std::string directory_of(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Closes a descriptor once; close errors are reported by `close_checked`.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; the errno of a failed close, or 0.
  int close_checked() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

void fsync_checked(int fd, const std::string& path) {
  if (::fsync(fd) != 0) throw FileError(errno, path);
}

void rename_checked(const std::string& temporary, const std::string& path) {
  if (::rename(temporary.c_str(), path.c_str()) != 0) throw FileError(errno, path);
}

// Runs `check` on the whole content of the open file `fd` of `size` bytes.
std::optional<std::string> check_content(int fd, off_t size, const ContentCheck& check,
                                         const std::string& path) {
  if (size == 0) return check(std::string_view());
  void* mapped = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED) throw FileError(errno, path);
  struct Unmap {
    void* address;
    size_t size;
    ~Unmap() { ::munmap(address, size); }
  } unmap{mapped, static_cast<size_t>(size)};
  return check(std::string_view(static_cast<const char*>(mapped), static_cast<size_t>(size)));
}

}  // namespace

std::string temporary_name_beside(const std::string& path, std::string_view suffix) {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  std::mt19937_64 random(
      static_cast<std::uint64_t>(device()) << 32 ^ device() ^
      static_cast<std::uint64_t>(::getpid()) << 16 ^ counter++ ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const std::string directory = directory_of(path);
  const auto slash = path.rfind('/');
  std::string_view stem = slash == std::string::npos ? std::string_view(path)
                                                     : std::string_view(path).substr(slash + 1);
  if (stem.size() >= suffix.size() && stem.substr(stem.size() - suffix.size()) == suffix) {
    stem.remove_suffix(suffix.size());
  }
  constexpr std::size_t NAME_MAX_BYTES = 255;
  for (;;) {
    char mark[24];
    std::snprintf(mark, sizeof mark, "%016llx", static_cast<unsigned long long>(random()));
    // ".<stem>.<mark><suffix>" names the file it stands for; a stem too long for that gives way
    // to a fixed name.
    std::string name = "." + std::string(stem) + "." + std::string(mark, 8) + std::string(suffix);
    if (name.size() > NAME_MAX_BYTES) name = ".tarnwick-" + std::string(mark) + std::string(suffix);
    std::string candidate = directory + "/" + name;
    struct stat status;
    if (::lstat(candidate.c_str(), &status) != 0 && errno == ENOENT) return candidate;
  }
}

void commit(const std::string& temporary, const std::string& path, const ContentCheck& check) {
  try {
    Descriptor fd(::open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw FileError(errno, path);
    fsync_checked(fd.get(), path);
    if (check) {
      struct stat status;
      if (::fstat(fd.get(), &status) != 0) throw FileError(errno, path);
      if (std::optional<std::string> refusal =
              check_content(fd.get(), status.st_size, check, path)) {
        throw RefusedContent(*refusal);
      }
    }
    if (const int error = fd.close_checked()) throw FileError(error, path);
    rename_checked(temporary, path);
  } catch (...) {
    remove_quietly(temporary);
    throw;
  }
}

void remove_quietly(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace tarnwick::support::files
