#pragma once

#include <string>

namespace ufd::sim {

// The instrument's end of a pseudo-terminal pair. The simulator keeps a descriptor of the slave
// side open itself, so that the master never reads as hung up while no PC holds the port; closing
// the line closes the master first, which the PC side sees as a vanished device.
class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine() { close(); }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // Creates the pair in raw mode with a non-blocking master.
    bool open(std::string& error);
    void close();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }
    // Bytes written to the PC that it has not read yet.
    int unread() const;

private:
    int master_ = -1;
    int slaveHold_ = -1;
    std::string slavePath_;
};

// Points the symbolic link `link` at `target` in one step. An existing symbolic link there is
// replaced (a run that died left it behind); any other file is left alone and refused.
bool placeLink(const std::string& link, const std::string& target, std::string& error);

// Removes `link` only while it still points at `target`, so a link that someone else has since
// taken over survives.
void removeLink(const std::string& link, const std::string& target);

} // namespace ufd::sim
