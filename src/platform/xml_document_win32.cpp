#include "platform/xml_document.h"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <msxml2.h>

namespace kestrel::platform {
namespace {

// The MSXML 3.0 DOM document class and the interface used on it, spelled out so that no import
// library has to provide them.
const CLSID kClsidDomDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
// In-process server and handler, local and remote server: the object may live out of process,
// hence the OleRun before the interface is queried.
constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string Narrow(const wchar_t* text, UINT length) {
    if (text == nullptr || length == 0) return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

// Owns one BSTR for the length of a call.
class Bstr {
public:
    explicit Bstr(const std::wstring& text) : m_value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_value); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return m_value; }
    bool ok() const { return m_value != nullptr; }

private:
    BSTR m_value;
};

template <typename T>
void ReleaseInterface(T*& pointer) {
    if (pointer != nullptr) {
        pointer->Release();
        pointer = nullptr;
    }
}

// The text of the node's first child. An element child has a null value: no text, not an error.
bool ChildText(IXMLDOMNode* node, std::string& text) {
    IXMLDOMNode* child = nullptr;
    if (node->get_firstChild(&child) != S_OK || child == nullptr) return false;
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = child->get_nodeValue(&value);
    child->Release();
    bool found = false;
    if (SUCCEEDED(hr) && value.vt != VT_NULL && value.vt != VT_EMPTY &&
        SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
        text = Narrow(value.bstrVal, SysStringLen(value.bstrVal));
        found = true;
    }
    VariantClear(&value);
    return found;
}

}  // namespace

struct XmlDocument::Impl {
    IXMLDOMDocument2* document = nullptr;
    bool open = false;

    IXMLDOMNodeList* SelectNodes(const std::string& path) {
        Bstr query(Widen(path));
        IXMLDOMNodeList* list = nullptr;
        if (!open || !query.ok() || document->selectNodes(query.get(), &list) != S_OK) return nullptr;
        return list;
    }
};

XmlDocument::XmlDocument() : m_impl(new Impl) {}

XmlDocument::~XmlDocument() { Close(); }

bool XmlDocument::Load(const std::string& text) {
    if (m_impl->open || text.empty()) return false;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return false;

    IUnknown* unknown = nullptr;
    IXMLDOMDocument2* document = nullptr;
    HRESULT hr = CoCreateInstance(kClsidDomDocument30, nullptr, kClassContext, IID_IUnknown,
                                  reinterpret_cast<void**>(&unknown));
    if (SUCCEEDED(hr)) hr = OleRun(unknown);
    if (SUCCEEDED(hr)) hr = unknown->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(&document));
    ReleaseInterface(unknown);

    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (SUCCEEDED(hr) && document != nullptr) {
        hr = document->put_async(VARIANT_FALSE);
        if (SUCCEEDED(hr)) hr = document->put_preserveWhiteSpace(VARIANT_TRUE);
        // A camera's answer never needs a DTD; refusing them keeps entity expansion and external
        // fetches out of reach of whoever controls the answer.
        if (SUCCEEDED(hr)) hr = document->put_resolveExternals(VARIANT_FALSE);
        if (SUCCEEDED(hr)) hr = document->put_validateOnParse(VARIANT_FALSE);
        if (SUCCEEDED(hr)) {
            Bstr property(L"ProhibitDTD");
            VARIANT on;
            VariantInit(&on);
            on.vt = VT_BOOL;
            on.boolVal = VARIANT_TRUE;
            // Older MSXML 3.0 builds lack the property; CXmlParser refuses doctypes itself as well.
            document->setProperty(property.get(), on);
        }
        if (SUCCEEDED(hr)) {
            Bstr source(Widen(text));
            hr = source.ok() ? document->loadXML(source.get(), &loaded) : E_OUTOFMEMORY;
        }
    }
    if (FAILED(hr) || document == nullptr || loaded != VARIANT_TRUE) {
        ReleaseInterface(document);
        CoUninitialize();
        return false;
    }
    m_impl->document = document;
    m_impl->open = true;
    return true;
}

void XmlDocument::Close() {
    if (!m_impl->open) return;
    ReleaseInterface(m_impl->document);
    CoUninitialize();
    m_impl->open = false;
}

bool XmlDocument::IsOpen() const { return m_impl->open; }

int XmlDocument::CountNodes(const std::string& path) {
    IXMLDOMNodeList* list = m_impl->SelectNodes(path);
    if (list == nullptr) return 0;
    long length = 0;
    if (FAILED(list->get_length(&length))) length = 0;
    list->Release();
    return static_cast<int>(length);
}

bool XmlDocument::NodeText(const std::string& path, std::string& text) {
    if (!m_impl->open) return false;
    Bstr query(Widen(path));
    IXMLDOMNode* node = nullptr;
    if (!query.ok() || m_impl->document->selectSingleNode(query.get(), &node) != S_OK || node == nullptr) return false;
    bool found = ChildText(node, text);
    node->Release();
    return found;
}

std::vector<std::string> XmlDocument::NodeTextList(const std::string& path) {
    std::vector<std::string> texts;
    IXMLDOMNodeList* list = m_impl->SelectNodes(path);
    if (list == nullptr) return texts;
    long length = 0;
    if (FAILED(list->get_length(&length))) length = 0;
    for (long i = 0; i < length; ++i) {
        IXMLDOMNode* node = nullptr;
        if (list->get_item(i, &node) != S_OK || node == nullptr) {
            texts.clear();  // a list with a hole in it would shift every later entry
            break;
        }
        std::string text;
        if (ChildText(node, text)) texts.push_back(std::move(text));
        node->Release();
    }
    list->Release();
    return texts;
}

std::vector<std::vector<std::string>> XmlDocument::NodeTextTable(const std::string& listPath,
                                                                 const std::vector<std::string>& fields) {
    std::vector<std::vector<std::string>> rows;
    IXMLDOMNodeList* list = m_impl->SelectNodes(listPath);
    if (list == nullptr) return rows;
    // nextNode walks the list once; get_item(i) may walk it from the start for every entry.
    IXMLDOMNode* entry = nullptr;
    while (list->nextNode(&entry) == S_OK && entry != nullptr) {
        std::vector<std::string> row(fields.size());
        for (std::size_t i = 0; i < fields.size(); ++i) {
            Bstr query(Widen(fields[i]));
            IXMLDOMNode* node = nullptr;
            if (query.ok() && entry->selectSingleNode(query.get(), &node) == S_OK && node != nullptr) {
                ChildText(node, row[i]);
                node->Release();
            }
        }
        entry->Release();
        entry = nullptr;
        rows.push_back(std::move(row));
    }
    list->Release();
    return rows;
}

}  // namespace kestrel::platform
