// A result holder: a text with a value-class shape. Nothing in the module relies on more.
#ifndef QUILLON_RUNTIME_RESULT_DEF_H
#define QUILLON_RUNTIME_RESULT_DEF_H

#include <string>
#include <utility>

namespace kestrel {

class CResultDef {
public:
    CResultDef() = default;
    explicit CResultDef(std::string text) : m_text(std::move(text)) {}
    CResultDef(const CResultDef&) = default;
    CResultDef& operator=(const CResultDef&) = default;
    CResultDef(CResultDef&&) = default;
    CResultDef& operator=(CResultDef&&) = default;
    virtual ~CResultDef() = default;

    const std::string& GetText() const { return m_text; }
    void SetText(std::string text) { m_text = std::move(text); }

private:
    std::string m_text;
};

}  // namespace kestrel

#endif
