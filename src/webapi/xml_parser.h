// CXmlParser: one parsed XML document answering path queries ("DeviceInfo/version",
// "List/Entry[0]/id" with indexes counted from 0). Every public operation holds the object's lock,
// so one object may be queried from several threads; Load and Close must run on the same thread.
// Failures are empty results; nothing throws.
#ifndef QUILLON_WEBAPI_XML_PARSER_H
#define QUILLON_WEBAPI_XML_PARSER_H

#include <memory>
#include <string>
#include <vector>

#include "platform/xml_document.h"
#include "runtime/spin_mutex.h"

namespace kestrel {

class CXmlParser {
public:
    CXmlParser();
    virtual ~CXmlParser();
    CXmlParser(const CXmlParser&) = delete;
    CXmlParser& operator=(const CXmlParser&) = delete;

    // False on an open object (the first document stays), on text that is not well-formed, and on
    // any document type declaration: answers are never allowed to define entities. NUL bytes at
    // the end of the text are left out (cameras that send a C string's terminator); a NUL anywhere
    // else makes the text no document.
    bool LoadXml(const std::string& text);
    void Close();
    int CountNodes(const std::string& path);
    // The first selected node's text (its first child's value); "" when there is none.
    std::string GetNodeText(const std::string& path);
    // Text of every selected node in document order; nodes without text are left out.
    std::vector<std::string> GetNodeTextList(const std::string& path);
    // For every node `listPath` selects, in document order, the text of each of `fields` (paths
    // relative to that node, as GetNodeText reads them). Read in one pass over the list.
    std::vector<std::vector<std::string>> GetNodeTextTable(const std::string& listPath,
                                                           const std::vector<std::string>& fields);

private:
    CSpinMutex m_lock;
    std::unique_ptr<platform::XmlDocument> m_document;
    bool m_isOpen = false;
};

}  // namespace kestrel

#endif
