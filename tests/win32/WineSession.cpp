#include "tests/win32/WineSession.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace isp::test {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string windowsPath(const std::filesystem::path& path)
{
    std::string text = "Z:" + std::filesystem::absolute(path).string();
    for (char& c : text) {
        if (c == '/')
            c = '\\';
    }
    return text;
}

void removeComLinks()
{
    const std::filesystem::path folder = std::filesystem::path(environment("WINEPREFIX")) / "dosdevices";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
        std::string name = entry.path().filename().string();
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name.rfind("com", 0) == 0 && entry.is_symlink(ignored))
            std::filesystem::remove(entry.path(), ignored);
    }
}

ComLink::ComLink(int n, const std::string& target)
    : path_(std::filesystem::path(environment("WINEPREFIX")) / "dosdevices" / ("com" + std::to_string(n)))
{
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::create_symlink(target, path_);
}

ComLink::~ComLink()
{
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

WineProcess::WineProcess(
    const std::string& program, const std::vector<std::string>& arguments, const std::filesystem::path& output)
{
    std::vector<std::string> argv = {"wine", program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        ::execvp("wine", args.data());
        ::_exit(127);
    }
}

WineProcess::~WineProcess()
{
    kill();
}

bool WineProcess::exited()
{
    if (pid_ < 0)
        return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return true;
}

void WineProcess::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

double WineProcess::cpuSeconds() const
{
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command's closing parenthesis: utime and stime are
    // the 12th and 13th.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i >= 12)
            ticks += std::stol(field);
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long WineProcess::peakKiB() const
{
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

namespace {

std::string output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

} // namespace

std::string xIconSizes(const std::string& caption)
{
    std::istringstream windows(output("xdotool search --name '^" + caption + "$' 2>/dev/null"));
    std::string sizes;
    for (std::string id; windows >> id;) {
        std::istringstream lines(output("xprop -id " + id + " _NET_WM_ICON 2>/dev/null"));
        for (std::string line; std::getline(lines, line);) {
            const auto at = line.find("Icon (");
            const auto end = line.find("):", at);
            if (at == std::string::npos || end == std::string::npos)
                continue;
            std::string size = line.substr(at + 6, end - at - 6);
            size.erase(std::remove(size.begin(), size.end(), ' '), size.end());
            sizes += (sizes.empty() ? "" : " ") + size;
        }
        if (!sizes.empty())
            break;
    }
    return sizes;
}

bool runUntil(MainLoop& loop, const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        loop.runOnce(std::chrono::milliseconds(10));
    }
    return true;
}

WindowDriver::WindowDriver(MainLoop& loop) : loop_(loop)
{
    char folder[] = "/tmp/isp-window-driver-XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    folder_ = folder;
}

WindowDriver::~WindowDriver()
{
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

nlohmann::json WindowDriver::run(const std::vector<std::string>& command)
{
    const std::filesystem::path answer = folder_ / ("answer-" + std::to_string(++runs_) + ".json");
    std::vector<std::string> arguments = {windowsPath(answer)};
    arguments.insert(arguments.end(), command.begin(), command.end());
    WineProcess driver(environment("ISP_WIN32_DRIVER"), arguments, folder_ / "driver.log");
    if (!runUntil(
            loop_, [&] { return driver.exited(); }, std::chrono::seconds(60)))
        return {{"status", 1}, {"error", "the driver did not end"}};
    std::ifstream in(answer);
    nlohmann::json result = nlohmann::json::parse(in, nullptr, false);
    std::error_code ignored;
    std::filesystem::remove(answer, ignored);
    if (result.is_discarded())
        return {{"status", 1}, {"error", "the driver wrote no answer"}};
    return result;
}

nlohmann::json WindowDriver::window(const nlohmann::json& tree, const std::string& name)
{
    for (const auto& w : tree.value("windows", nlohmann::json::array())) {
        if (w.value("name", "") == name)
            return w;
    }
    return nullptr;
}

nlohmann::json WindowDriver::control(const nlohmann::json& window, const std::string& name)
{
    if (window.is_null())
        return nullptr;
    for (const auto& c : window.value("controls", nlohmann::json::array())) {
        if (c.value("name", "") == name)
            return c;
    }
    return nullptr;
}

} // namespace isp::test
