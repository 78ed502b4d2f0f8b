#include "core/platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/platform/unique_fd.h"

namespace pellora {

namespace {

[[noreturn]] void Fail(const std::string& path, int error, const char* operation) {
  throw EFileError(path, error, std::string(operation) + " " + path + ": " + std::strerror(error));
}

}  // namespace

mode_t NewFileMode() {
  // Read once: reading the umask means setting it, which is not thread-safe, and
  // it does not change while the program runs.
  static const mode_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
  }();
  return mode;
}

bool IsReadOnlyFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && !(info.st_mode & S_IWUSR);
}

std::string JoinNewFolderPath(std::string_view base, std::string_view name,
                              std::string_view separator) {
  std::string path(base);
  if (!base.ends_with(separator) && !name.starts_with(separator)) path += separator;
  path += name;
  return path;
}

bool CreateSingleDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0;
}

std::string ReadSmallFile(const std::string& path, size_t maxBytes) {
  // O_NONBLOCK keeps a dropped FIFO or device from blocking the program.
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) Fail(path, errno, "cannot open");
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) Fail(path, errno, "cannot read");
  if (S_ISDIR(info.st_mode)) Fail(path, EISDIR, "cannot read");
  if (!S_ISREG(info.st_mode)) Fail(path, EINVAL, "not a regular file:");
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) Fail(path, EFBIG, "cannot read");

  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(path, errno, "cannot read");
    if (n == 0) break;
    content.append(buffer, static_cast<size_t>(n));
    if (content.size() > maxBytes) Fail(path, EFBIG, "cannot read");  // grew while reading
  }
  return content;
}

void WriteFileAtomically(const std::string& path, std::string_view content, bool privateFile) {
  // Replacing by rename would ignore that the old file was made read-only.
  if (IsReadOnlyFile(path)) Fail(path, EACCES, "cannot write");
  std::string temp = path + ".XXXXXX";
  TFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.Get() < 0) Fail(path, errno, "cannot create");
  const auto fail = [&](int error, const char* operation) {
    ::unlink(temp.c_str());
    Fail(path, error, operation);
  };
  // mkstemp makes the file private; a shared job file gets the usual permissions.
  if (!privateFile && ::fchmod(fd.Get(), NewFileMode()) != 0) fail(errno, "cannot write");
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd.Get(), content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno, "cannot write");
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd.Get()) != 0) fail(errno, "cannot write");
  if (::close(fd.Release()) != 0) fail(errno, "cannot write");
  if (::rename(temp.c_str(), path.c_str()) != 0) fail(errno, "cannot replace");
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string DescribeFileError(int error) {
  switch (error) {
    case ENOENT:
      return "ファイルまたはフォルダが見つかりません。";
    case EACCES:
    case EPERM:
      return "アクセスが拒否されました。";
    case EISDIR:
      return "同じ名前のフォルダがあります。";
    case ENOTDIR:
      return "パスの途中がフォルダではありません。";
    case ENOSPC:
    case EDQUOT:
      return "ディスクの空き容量が足りません。";
    case EROFS:
      return "読み取り専用の場所です。";
    case ENAMETOOLONG:
      return "名前が長すぎます。";
    case EFBIG:
      return "ファイルが大きすぎます。";
    default:
      return std::strerror(error);
  }
}

std::string ReadFilePrefix(const std::string& path, size_t maxBytes) {
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) return {};
  std::string content(maxBytes, '\0');
  size_t done = 0;
  while (done < maxBytes) {
    const ssize_t n = ::read(fd.Get(), content.data() + done, maxBytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  content.resize(done);
  return content;
}

bool CreateFolderPath(const std::string& path) {
  if (path.empty()) return false;
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos < path.size() && path[pos] != '/') continue;
    const std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) break;
  }
  return IsFolder(path);
}

}  // namespace pellora
