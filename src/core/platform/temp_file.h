#pragma once

#include <string>

namespace pellora {

// A fresh, empty, uniquely named file in the user's temporary folder ($TMPDIR,
// else /tmp), named "pel" + a unique suffix, removed when the object goes (if it
// still exists). Throws EFileError when it cannot be created.
class TTempFile {
 public:
  TTempFile();
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const std::string& Path() const { return FilePath; }
  // The file was moved away: nothing to remove.
  void Release() { FilePath.clear(); }

 private:
  std::string FilePath;
};

std::string TempFolder();

}  // namespace pellora
