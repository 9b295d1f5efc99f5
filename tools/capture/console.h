// The program's output: messages as they come and a block of progress lines. On a terminal
// the block is redrawn in place, below the messages, each line cut to the terminal's width;
// elsewhere each refresh appends plain lines. With machine-read progress (JSON on standard
// output) the messages go to standard error.
#ifndef QUILLON_TOOLS_CAPTURE_CONSOLE_H
#define QUILLON_TOOLS_CAPTURE_CONSOLE_H

#include <mutex>
#include <string>
#include <vector>

namespace quillon_capture {

// Every member is callable from any thread (the driver's debug messages come on its threads).
class CConsole {
public:
    CConsole(bool inPlace, bool messagesToStandardError = false)
        : m_inPlace(inPlace), m_messagesToStandardError(messagesToStandardError) {}

    // One line on standard output (or standard error, see above), above the progress block.
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
    const bool m_messagesToStandardError;
    std::mutex m_mutex;
    std::vector<std::string> m_block;  // guarded by m_mutex; drawn on screen when in place
};

}  // namespace quillon_capture

#endif
