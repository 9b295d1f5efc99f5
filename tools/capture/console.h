// The program's output: messages as they come and a block of progress lines. On a terminal
// the block is redrawn in place, below the messages; elsewhere each refresh appends plain lines.
#ifndef QUILLON_TOOLS_CAPTURE_CONSOLE_H
#define QUILLON_TOOLS_CAPTURE_CONSOLE_H

#include <mutex>
#include <string>
#include <vector>

namespace quillon_capture {

// Every member is callable from any thread (the driver's debug messages come on its threads).
class CConsole {
public:
    explicit CConsole(bool inPlace) : m_inPlace(inPlace) {}

    // One line on standard output, above the progress block.
    void Message(const std::string& line);
    // One line on standard error, likewise.
    void Error(const std::string& line);
    // Replaces the progress block.
    void Progress(std::vector<std::string> lines);
    // Leaves the last progress block as it stands; later messages go below it.
    void EndProgress();

private:
    void EraseBlock();  // m_mutex held
    void DrawBlock();   // m_mutex held

    const bool m_inPlace;
    std::mutex m_mutex;
    std::vector<std::string> m_block;  // guarded by m_mutex; drawn on screen when in place
};

}  // namespace quillon_capture

#endif
