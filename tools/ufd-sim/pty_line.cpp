#include "pty_line.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace ufd::sim {

namespace {

std::string describe(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::string readLinkTarget(const std::string& link) {
    std::array<char, 4096> buf{};
    const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size() - 1);
    return n < 0 ? std::string() : std::string(buf.data(), static_cast<std::size_t>(n));
}

} // namespace

bool PtyLine::open(std::string& error) {
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        error = describe("posix_openpt");
        return false;
    }
    std::array<char, 128> name{};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name.data(), name.size()) != 0) {
        error = describe("pseudo-terminal set-up");
        close();
        return false;
    }
    slavePath_ = name.data();
    slaveHold_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveHold_ < 0) {
        error = describe(slavePath_.c_str());
        close();
        return false;
    }
    termios tio{};
    if (::tcgetattr(slaveHold_, &tio) != 0) {
        error = describe("tcgetattr");
        close();
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(slaveHold_, TCSANOW, &tio) != 0) {
        error = describe("tcsetattr");
        close();
        return false;
    }
    return true;
}

void PtyLine::close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    if (slaveHold_ >= 0) {
        ::close(slaveHold_);
        slaveHold_ = -1;
    }
    slavePath_.clear();
}

int PtyLine::unread() const {
    int n = 0;
    return slaveHold_ >= 0 && ::ioctl(slaveHold_, FIONREAD, &n) == 0 ? n : 0;
}

bool placeLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = link + ": exists and is not a symbolic link";
        return false;
    }
    const std::string temp = link + ".new";
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        error = describe(link.c_str());
        return false;
    }
    // rename() swaps the link atomically, so a PC opening it never finds it missing.
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        error = describe(link.c_str());
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string& link, const std::string& target) {
    if (!link.empty() && readLinkTarget(link) == target) {
        ::unlink(link.c_str());
    }
}

} // namespace ufd::sim
