// Outputs are written under a temporary name in the same folder and renamed
// only when complete, so a failure or an interruption leaves no partial file
// and an existing file untouched.
#pragma once

#include <string>
#include <vector>

namespace kcli {

// Refuses (exit 2, naming the path) an output that is a folder or whose
// folder does not exist, before any work is done for it.
void checkOutputPlace(const std::string& finalPath);

class TempFile {
public:
    // Hidden, in the folder of `finalPath`, named for it and this process.
    explicit TempFile(const std::string& finalPath);
    // Removes the temporary unless it was committed.
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }

    // Every byte reaches the disk or the write is an error (Failure naming
    // the final path): a full disk or a failing device never passes as
    // success.
    void writeAll(const std::vector<unsigned char>& bytes);

    // Renames the temporary to the final path.
    void commit();

private:
    std::string final_;
    std::string path_;
    bool committed_ = false;
};

}  // namespace kcli
