#include "mime/HtmlText.h"

#include <gumbo.h>

#include <algorithm>
#include <cctype>

namespace tegalo {
namespace {

enum class Layout { Inline, Skip, Line, Paragraph, Break, ListItem, Cell, Rule };

Layout LayoutOf(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_SELECT:
        return Layout::Skip;
    case GUMBO_TAG_P:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_DL:
        return Layout::Paragraph;
    case GUMBO_TAG_BR:
        return Layout::Break;
    case GUMBO_TAG_HR:
        return Layout::Rule;
    case GUMBO_TAG_LI:
        return Layout::ListItem;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return Layout::Cell;
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
        return Layout::Line;
    default:
        return Layout::Inline;
    }
}

// Collects text with blanks collapsed and at most one empty line in a row.
class TextWriter {
public:
    void Text(std::string_view text, bool preformatted) {
        if (preformatted) {
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] == '\r') {
                    continue;
                }
                if (text[i] == '\n') {
                    Break();
                } else {
                    Put(text.substr(i, 1));
                }
            }
            return;
        }
        std::size_t i = 0;
        while (i < text.size()) {
            if (IsSpace(text[i])) {
                pendingBlank_ = true;
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < text.size() && !IsSpace(text[j])) {
                ++j;
            }
            if (pendingBlank_ && !lineEmpty_) {
                out_.push_back(' ');
            }
            pendingBlank_ = false;
            Put(text.substr(i, j - i));
            i = j;
        }
    }
    void Line() {
        if (!lineEmpty_) {
            Break();
        }
    }
    void Paragraph() {
        Line();
        if (!out_.empty() && emptyLines_ == 0) {
            Break();
        }
    }
    void Break() {
        out_.append("\r\n");
        emptyLines_ = lineEmpty_ ? emptyLines_ + 1 : 0;
        if (emptyLines_ > 1) {
            out_.resize(out_.size() - 2);
            emptyLines_ = 1;
        }
        lineEmpty_ = true;
        pendingBlank_ = false;
    }
    void Blank() {
        if (!lineEmpty_) {
            pendingBlank_ = true;
        }
    }
    std::string Finish() {
        Line();
        while (out_.starts_with("\r\n")) {
            out_.erase(0, 2);
        }
        while (out_.ends_with("\r\n\r\n")) {
            out_.resize(out_.size() - 2);
        }
        return std::move(out_);
    }

private:
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }
    void Put(std::string_view s) {
        // A no-break space (U+00A0) has no Shift_JIS form: it shows as a blank.
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0') {
                out_.push_back(' ');
                ++i;
            } else {
                out_.push_back(s[i]);
            }
        }
        lineEmpty_ = false;
        emptyLines_ = 0;
    }

    std::string out_;
    bool lineEmpty_ = true;
    bool pendingBlank_ = false;
    int emptyLines_ = 1; // the start counts as after an empty line
};

void Walk(const GumboNode* node, TextWriter& out, bool preformatted, int depth) {
    if (depth > 200) {
        return;
    }
    switch (node->type) {
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_CDATA:
    case GUMBO_NODE_WHITESPACE:
        out.Text(node->v.text.text, preformatted);
        return;
    case GUMBO_NODE_DOCUMENT:
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE:
        break;
    default:
        return;
    }
    const GumboVector* children =
        node->type == GUMBO_NODE_DOCUMENT ? &node->v.document.children : &node->v.element.children;
    Layout layout = Layout::Inline;
    if (node->type != GUMBO_NODE_DOCUMENT) {
        layout = LayoutOf(node->v.element.tag);
        preformatted = preformatted || node->v.element.tag == GUMBO_TAG_PRE;
    }
    switch (layout) {
    case Layout::Skip:
        return;
    case Layout::Break:
        out.Break();
        return;
    case Layout::Rule:
        out.Line();
        out.Text("----------", false);
        out.Line();
        return;
    case Layout::Line:
        out.Line();
        break;
    case Layout::Paragraph:
        out.Paragraph();
        break;
    case Layout::ListItem:
        out.Line();
        out.Text("\xE3\x83\xBB", false); // "・"
        break;
    case Layout::Cell:
        out.Blank();
        break;
    case Layout::Inline:
        break;
    }
    for (unsigned i = 0; i < children->length; ++i) {
        Walk(static_cast<const GumboNode*>(children->data[i]), out, preformatted, depth + 1);
    }
    if (layout == Layout::Paragraph) {
        out.Paragraph();
    } else if (layout == Layout::Line || layout == Layout::ListItem) {
        out.Line();
    } else if (layout == Layout::Cell) {
        out.Blank();
    }
}

} // namespace

std::string HtmlToText(std::string_view html) {
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    if (output == nullptr) {
        return {};
    }
    TextWriter writer;
    Walk(output->document, writer, false, 0);
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return writer.Finish();
}

std::string HtmlMetaCharset(std::string_view html) {
    std::string head(html.substr(0, 4096));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    for (std::size_t meta = head.find("<meta"); meta != std::string::npos; meta = head.find("<meta", meta + 5)) {
        const std::size_t end = head.find('>', meta);
        const std::string_view tag = std::string_view(head).substr(meta, end == std::string::npos ? end : end - meta);
        const std::size_t at = tag.find("charset=");
        if (at == std::string_view::npos) {
            continue;
        }
        std::size_t i = at + 8;
        while (i < tag.size() && (tag[i] == '"' || tag[i] == '\'' || tag[i] == ' ')) {
            ++i;
        }
        std::size_t j = i;
        while (j < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[j])) || tag[j] == '-' || tag[j] == '_' ||
                                  tag[j] == '.' || tag[j] == ':')) {
            ++j;
        }
        if (j > i) {
            return std::string(tag.substr(i, j - i));
        }
    }
    return {};
}

} // namespace tegalo
