#include "platform/xml_document.h"

#include <cstdlib>
#include <cstring>

#include <pugixml.hpp>

namespace kestrel::platform {
namespace {

struct PathStep {
    std::string name;
    bool indexed = false;
    std::size_t index = 0;
};

// Accepts only the two forms callers use: "a/b/c" and steps with one "[n]" index.
bool ParsePath(const std::string& path, std::vector<PathStep>& steps) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string step = path.substr(start, end - start);
        PathStep parsed;
        std::size_t bracket = step.find('[');
        if (bracket == std::string::npos) {
            parsed.name = step;
        } else {
            if (step.back() != ']' || bracket + 2 >= step.size()) return false;
            std::string digits = step.substr(bracket + 1, step.size() - bracket - 2);
            if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
            parsed.name = step.substr(0, bracket);
            parsed.indexed = true;
            parsed.index = static_cast<std::size_t>(std::strtoul(digits.c_str(), nullptr, 10));
        }
        if (parsed.name.empty() || parsed.name.find_first_of("[]*@()") != std::string::npos) return false;
        steps.push_back(std::move(parsed));
        start = end + 1;
    }
    return !steps.empty();
}

bool ChildText(const pugi::xml_node& node, std::string& text) {
    pugi::xml_node child = node.first_child();
    switch (child.type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
        text = child.value();
        return true;
    default:
        return false;
    }
}

// pugixml leaves an unknown entity reference as text; a DOM parser refuses the document. Checks
// every '&' outside comments, CDATA sections and processing instructions.
bool EntityReferencesAreDefined(const std::string& text) {
    static const char* const kNamed[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, 4, "<!--") == 0) {
            i = text.find("-->", i + 4);
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            i = text.find("]]>", i + 9);
        } else if (text.compare(i, 2, "<?") == 0) {
            i = text.find("?>", i + 2);
        } else if (text[i] == '&') {
            bool known = false;
            for (const char* name : kNamed) known = known || text.compare(i + 1, std::strlen(name), name) == 0;
            if (!known && i + 1 < text.size() && text[i + 1] == '#') {
                bool hex = i + 2 < text.size() && text[i + 2] == 'x';
                std::size_t digits = i + (hex ? 3 : 2);
                std::size_t end = text.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789", digits);
                known = end != std::string::npos && end > digits && text[end] == ';';
            }
            if (!known) return false;
            ++i;
            continue;
        } else {
            i = text.find_first_of("<&", i + 1);  // nothing else can start what is looked for
            continue;
        }
        if (i == std::string::npos) return true;  // unterminated: the parser reports that
    }
    return true;
}

// pugixml silently drops text before or after the document element; a DOM parser refuses it.
bool OnlyMarkupAtTheEnds(const std::string& text) {
    const char* kBlank = " \t\r\n";
    std::size_t begin = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    std::size_t first = text.find_first_not_of(kBlank, begin);
    std::size_t last = text.find_last_not_of(kBlank);
    return first != std::string::npos && text[first] == '<' && text[last] == '>';
}

// The first node in document order that `steps`, from `index` on, select below `parent`; found
// without building the whole selection.
pugi::xml_node FirstMatch(const pugi::xml_node& parent, const std::vector<PathStep>& steps, std::size_t index) {
    if (index == steps.size()) return parent;
    const PathStep& step = steps[index];
    std::size_t position = 0;
    for (pugi::xml_node child = parent.child(step.name.c_str()); child;
         child = child.next_sibling(step.name.c_str()), ++position) {
        if (step.indexed && position < step.index) continue;
        pugi::xml_node found = FirstMatch(child, steps, index + 1);
        if (found || step.indexed) return found;
    }
    return pugi::xml_node();
}

}  // namespace

struct XmlDocument::Impl {
    pugi::xml_document document;
    bool open = false;

    std::vector<pugi::xml_node> Select(const std::string& path) const {
        std::vector<PathStep> steps;
        std::vector<pugi::xml_node> current;
        if (!open || !ParsePath(path, steps)) return current;
        current.push_back(document);
        for (const PathStep& step : steps) {
            std::vector<pugi::xml_node> next;
            for (const pugi::xml_node& parent : current) {
                std::size_t position = 0;
                for (pugi::xml_node child = parent.child(step.name.c_str()); child;
                     child = child.next_sibling(step.name.c_str()), ++position) {
                    if (!step.indexed || position == step.index) next.push_back(child);
                    if (step.indexed && position >= step.index) break;
                }
            }
            current.swap(next);
            if (current.empty()) break;
        }
        return current;
    }
};

XmlDocument::XmlDocument() : m_impl(new Impl) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::Load(const std::string& text) {
    if (m_impl->open || text.empty() || !EntityReferencesAreDefined(text) || !OnlyMarkupAtTheEnds(text)) return false;
    // Whitespace-only text, comments and processing instructions stay nodes, as in the DOM;
    // the doctype is parsed only so that a document carrying one can be refused.
    const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_comments |
                             pugi::parse_pi | pugi::parse_doctype | pugi::parse_declaration;
    pugi::xml_parse_result result =
        m_impl->document.load_buffer(text.data(), text.size(), options, pugi::encoding_auto);
    bool wellFormed = static_cast<bool>(result);
    int elements = 0;
    for (pugi::xml_node node = m_impl->document.first_child(); wellFormed && node; node = node.next_sibling()) {
        switch (node.type()) {
        case pugi::node_element:
            ++elements;
            break;
        case pugi::node_doctype:
            wellFormed = false;
            break;
        case pugi::node_pcdata: {
            // pugixml accepts text beside the document element; a DOM parser does not.
            const char* value = node.value();
            if (value[std::strspn(value, " \t\r\n")] != '\0') wellFormed = false;
            break;
        }
        case pugi::node_cdata:
            wellFormed = false;
            break;
        default:
            break;
        }
    }
    if (!wellFormed || elements != 1) {
        m_impl->document.reset();
        return false;
    }
    m_impl->open = true;
    return true;
}

void XmlDocument::Close() {
    if (!m_impl->open) return;
    m_impl->document.reset();
    m_impl->open = false;
}

bool XmlDocument::IsOpen() const { return m_impl->open; }

int XmlDocument::CountNodes(const std::string& path) { return static_cast<int>(m_impl->Select(path).size()); }

bool XmlDocument::NodeText(const std::string& path, std::string& text) {
    std::vector<pugi::xml_node> nodes = m_impl->Select(path);
    return !nodes.empty() && ChildText(nodes.front(), text);
}

std::vector<std::string> XmlDocument::NodeTextList(const std::string& path) {
    std::vector<std::string> texts;
    for (const pugi::xml_node& node : m_impl->Select(path)) {
        std::string text;
        if (ChildText(node, text)) texts.push_back(std::move(text));
    }
    return texts;
}

std::vector<std::vector<std::string>> XmlDocument::NodeTextTable(const std::string& listPath,
                                                                 const std::vector<std::string>& fields) {
    std::vector<std::vector<PathStep>> fieldSteps(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!ParsePath(fields[i], fieldSteps[i])) fieldSteps[i].clear();
    std::vector<std::vector<std::string>> rows;
    for (const pugi::xml_node& entry : m_impl->Select(listPath)) {
        std::vector<std::string> row(fields.size());
        for (std::size_t i = 0; i < fields.size(); ++i) {
            pugi::xml_node node = fieldSteps[i].empty() ? pugi::xml_node() : FirstMatch(entry, fieldSteps[i], 0);
            if (node) ChildText(node, row[i]);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace kestrel::platform
