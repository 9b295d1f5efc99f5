#include "capture/console.h"

#include <cstdio>

#include "capture/progress.h"
#include "platform/terminal.h"

namespace quillon_capture {

namespace {

// ANSI: cursor up N lines, and erase from the cursor to the end of the screen.
void CursorUp(std::size_t lines) { std::printf("\x1b[%zuA\r\x1b[J", lines); }

}  // namespace

void CConsole::Message(const std::string& line) {
    if (m_messagesToStandardError) return Error(line);
    std::lock_guard<std::mutex> lock(m_mutex);
    EraseBlock();
    std::printf("%s\n", line.c_str());
    DrawBlock();
    std::fflush(stdout);
}

void CConsole::Error(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    EraseBlock();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    DrawBlock();
    std::fflush(stdout);
}

void CConsole::Progress(std::vector<std::string> lines) {
    std::lock_guard<std::mutex> lock(m_mutex);
    EraseBlock();
    m_block = std::move(lines);
    if (m_inPlace) {
        DrawBlock();
    } else {
        for (const std::string& line : m_block) std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

void CConsole::EndProgress() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_block.clear();
}

void CConsole::EraseBlock() {
    if (m_inPlace && !m_block.empty()) CursorUp(m_block.size());
}

void CConsole::DrawBlock() {
    if (!m_inPlace) return;
    // One screen row per line, so that the erase moves up as many rows as were drawn.
    const int columns = kestrel::platform::TerminalColumns();
    for (const std::string& line : m_block) std::printf("%s\x1b[K\n", FitToWidth(line, columns).c_str());
}

}  // namespace quillon_capture
