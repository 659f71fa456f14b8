#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

// Files a test writes and removes again: a scratch folder for the images and
// the files of the tools they are checked against, lock files, and running
// those tools.
namespace isp::test {

// A file, a lock file for instance, that is removed again when the object
// goes, however the test ends.
class LockFile {
public:
    LockFile(std::filesystem::path path, const std::string& text) : path_(std::move(path))
    {
        std::ofstream(path_) << text;
    }
    ~LockFile()
    {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

private:
    std::filesystem::path path_;
};

class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "image-formats-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

template <typename Bytes>
void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool hasProgram(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command: nothing when it succeeds, else the command and its
// error output, for the failure message.
inline std::string runFails(const std::string& command, const ScratchFolder& folder)
{
    const std::string errors = folder / "stderr.txt";
    if (std::system((command + " 2>'" + errors + "'").c_str()) == 0)
        return {};
    return command + ": " + readFile(errors) + "(failed)";
}

} // namespace isp::test
