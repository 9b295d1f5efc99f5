#include "webapi/xml_parser.h"

#include <new>

namespace kestrel {

CXmlParser::CXmlParser() = default;

CXmlParser::~CXmlParser() { Close(); }

bool CXmlParser::LoadXml(const std::string& text) {
    CSpinMutexGuard guard(m_lock);
    if (m_isOpen) return false;
    // The back ends differ on NUL bytes (MSXML reads up to the first, pugixml refuses any), so
    // they are settled here: trailing ones dropped, any other one refused.
    const std::size_t end = text.find_last_not_of('\0') + 1;
    if (end == 0 || text.find('\0') < end) return false;
    // Refused before any parser sees it, so that no back end's DTD support matters.
    if (text.find("<!DOCTYPE") != std::string::npos || text.find("<!ENTITY") != std::string::npos) return false;
    try {
        m_document.reset(new platform::XmlDocument);
        const std::string trimmed = end == text.size() ? std::string() : text.substr(0, end);
        m_isOpen = m_document->Load(end == text.size() ? text : trimmed);
    } catch (const std::bad_alloc&) {
        m_isOpen = false;
    }
    if (!m_isOpen) m_document.reset();
    return m_isOpen;
}

void CXmlParser::Close() {
    CSpinMutexGuard guard(m_lock);
    if (!m_isOpen) return;
    m_document->Close();
    m_document.reset();
    m_isOpen = false;
}

int CXmlParser::CountNodes(const std::string& path) {
    CSpinMutexGuard guard(m_lock);
    return m_isOpen ? m_document->CountNodes(path) : 0;
}

std::string CXmlParser::GetNodeText(const std::string& path) {
    CSpinMutexGuard guard(m_lock);
    std::string text;
    if (!m_isOpen || !m_document->NodeText(path, text)) text.clear();
    return text;
}

std::vector<std::string> CXmlParser::GetNodeTextList(const std::string& path) {
    CSpinMutexGuard guard(m_lock);
    if (!m_isOpen) return {};
    try {
        return m_document->NodeTextList(path);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::vector<std::vector<std::string>> CXmlParser::GetNodeTextTable(const std::string& listPath,
                                                                   const std::vector<std::string>& fields) {
    CSpinMutexGuard guard(m_lock);
    if (!m_isOpen) return {};
    try {
        return m_document->NodeTextTable(listPath, fields);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

}  // namespace kestrel
