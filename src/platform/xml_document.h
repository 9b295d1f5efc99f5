// One parsed XML document answering path queries. MSXML 3.0 through COM on Windows, pugixml on
// POSIX. Paths are child steps from the document node ("DeviceInfo/version"), each step optionally
// with one index counted from 0 ("Entry[1]" is the second Entry under its parent).
//
// Not thread-safe; CXmlParser serialises access. On Windows, Load joins the calling thread to the
// multithreaded COM apartment and Close leaves it, so both must run on the same thread.
#ifndef QUILLON_PLATFORM_XML_DOCUMENT_H
#define QUILLON_PLATFORM_XML_DOCUMENT_H

#include <memory>
#include <string>
#include <vector>

namespace kestrel::platform {

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // False for text that is not a well-formed document, that has a document type declaration,
    // or when the parser cannot be had; the object then stays closed. False when already open.
    bool Load(const std::string& text);
    void Close();
    bool IsOpen() const;

    // Node count of `path`; 0 when closed or nothing matches.
    int CountNodes(const std::string& path);
    // The value of the first selected node's first child when that child is text, CDATA, a
    // comment or a processing instruction; false otherwise (no match, empty element, element child).
    bool NodeText(const std::string& path, std::string& text);
    // NodeText of every selected node in document order, nodes without text left out.
    std::vector<std::string> NodeTextList(const std::string& path);
    // One row per node that `listPath` selects, in document order: the NodeText of each of
    // `fields` (paths relative to that node, without indexes), "" where there is none. The list
    // is walked once, so reading n entries costs n, not n squared as indexed paths would.
    std::vector<std::vector<std::string>> NodeTextTable(const std::string& listPath,
                                                        const std::vector<std::string>& fields);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace kestrel::platform

#endif
