#include "records/SeedFileText.h"

#include "core/Secret.h"

#include <algorithm>
#include <array>
#include <optional>

using namespace otp::core;

namespace otp::records {

namespace {

using namespace std::string_view_literals;

// Collects printed bytes; every buffer they pass through is wiped.
struct WipingWriter final : pugi::xml_writer
{
    std::string out;
    WipingWriter() { out.reserve(1024); }
    ~WipingWriter() override { wipe(out.data(), out.capacity()); }
    void write(const void* data, size_t size) override
    {
        if (out.size() + size > out.capacity()) {
            std::string larger;
            larger.reserve(2 * (out.size() + size));
            larger.assign(out);
            wipe(out.data(), out.capacity());
            out.swap(larger);
        }
        out.append(static_cast<const char*>(data), size);
    }
};

// The complete lines of a text, one after the other.
class Lines
{
public:
    explicit Lines(std::string_view text) : m_text(text) {}

    // The next line without its line feed; nothing at the end of the text or
    // before a last line that has no line feed.
    std::optional<std::string_view> next()
    {
        const std::size_t end = m_text.find('\n', m_at);
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view line = m_text.substr(m_at, end - m_at);
        m_at = end + 1;
        return line;
    }
    // Where the next line begins.
    std::size_t offset() const { return m_at; }
    bool atEnd() const { return m_at == m_text.size(); }

private:
    std::string_view m_text;
    std::size_t m_at = 0;
};

bool is_name(std::string_view name)
{
    const auto start = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':';
    };
    const auto other = [&](char c) {
        return start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    };
    return !name.empty() && start(name.front()) && std::ranges::all_of(name.substr(1), other);
}

// What a byte of an element's text may be: printable characters as they
// stand, an escape, or nothing else. Files of many thousand tokens pass
// through here byte by byte.
enum class TextByte : unsigned char { Printable, Blank, Escape, Refused };

constexpr auto kTextBytes = [] {
    std::array<TextByte, 256> table{};
    for (int c = 0; c < 0x20; ++c)
        table[c] = TextByte::Refused;
    table['\t'] = table[' '] = TextByte::Blank;
    table['&'] = TextByte::Escape;
    table['<'] = table['>'] = TextByte::Refused;
    return table;
}();

// Text that the parser gives back unchanged and the printer writes as it
// stands: printable characters with <, > and & escaped as the printer
// escapes them, not white space only (the parser drops that).
bool is_text(std::string_view text)
{
    bool blank = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        switch (kTextBytes[static_cast<unsigned char>(text[i])]) {
        case TextByte::Printable:
            blank = false;
            break;
        case TextByte::Blank:
            break;
        case TextByte::Escape: {
            const std::string_view rest = text.substr(i);
            const std::size_t length = rest.starts_with("&amp;"sv)  ? 5
                                       : rest.starts_with("&lt;"sv) ? 4
                                       : rest.starts_with("&gt;"sv) ? 4
                                                                    : 0;
            if (length == 0)
                return false;
            i += length - 1;
            blank = false;
            break;
        }
        case TextByte::Refused:
            return false;
        }
    }
    return !blank;
}

// `depth` tabs, then the rest of the line; nothing when the indentation differs.
std::optional<std::string_view> indented(std::string_view line, std::size_t depth)
{
    if (line.size() <= depth || line.find_first_not_of('\t') != depth)
        return std::nullopt;
    return line.substr(depth);
}

// The name of an element opened alone on its line: "<name>".
std::optional<std::string_view> opening(std::string_view line, std::size_t depth)
{
    const auto tag = indented(line, depth);
    if (!tag || !tag->starts_with('<') || !tag->ends_with('>'))
        return std::nullopt;
    const std::string_view name = tag->substr(1, tag->size() - 2);
    return is_name(name) ? std::optional(name) : std::nullopt;
}

bool is_closing(std::string_view line, std::size_t depth, std::string_view name)
{
    const auto tag = indented(line, depth);
    return tag && tag->size() == name.size() + 3 && tag->starts_with("</"sv) &&
           tag->substr(2, name.size()) == name && tag->ends_with('>');
}

// "<name>text</name>" on a line of its own.
bool is_text_element(std::string_view line, std::size_t depth)
{
    const auto element = indented(line, depth);
    if (!element || !element->starts_with('<'))
        return false;
    const std::size_t open = element->find('>');
    if (open == std::string_view::npos)
        return false;
    const std::string_view name = element->substr(1, open - 1);
    const std::size_t closeLength = name.size() + 3;
    if (!is_name(name) || element->size() < open + 1 + closeLength)
        return false;
    const std::string_view close = element->substr(element->size() - closeLength);
    return close.starts_with("</"sv) && close.substr(2, name.size()) == name &&
           close.ends_with('>') &&
           is_text(element->substr(open + 1, element->size() - open - 1 - closeLength));
}

// Lines of text elements at `depth` up to the line that closes `name`; the
// number of elements, or nothing when a line is anything else.
std::optional<std::size_t> text_elements_until_closed(Lines& lines, std::size_t depth,
                                                      std::string_view name)
{
    for (std::size_t count = 0;; ++count) {
        const auto line = lines.next();
        if (!line)
            return std::nullopt;
        if (is_closing(*line, depth - 1, name))
            return count;
        if (!is_text_element(*line, depth))
            return std::nullopt;
    }
}

struct TokensEnd
{
    std::size_t offset = 0;
    bool empty = false;
};

// Where the tokens element ends, in a file laid out exactly as pugixml
// prints the document it parses from that file:
//
//   <?xml version="1.0"?>
//   <data>
//   	<header>
//   		<name>text</name>       (any number)
//   	</header>
//   	<tokens>                     or <tokens /> with no tokens
//   		<token>                  (any number, each with at least one
//   			<name>text</name>     text element)
//   		</token>
//   	</tokens>
//   </data>
//
// Nothing for any other file: such a file goes through the document tree.
std::optional<TokensEnd> tokens_end(std::string_view bytes)
{
    Lines lines(bytes);
    if (lines.next() != R"(<?xml version="1.0"?>)"sv || lines.next() != "<data>"sv ||
        lines.next() != "\t<header>"sv || !text_elements_until_closed(lines, 2, "header"))
        return std::nullopt;
    TokensEnd end{lines.offset(), false};
    const auto tokens = lines.next();
    if (tokens == "\t<tokens />"sv) {
        end.empty = true;
    } else if (tokens == "\t<tokens>"sv) {
        for (;;) {
            end.offset = lines.offset();
            const auto line = lines.next();
            if (!line)
                return std::nullopt;
            if (*line == "\t</tokens>"sv)
                break;
            const auto token = opening(*line, 2);
            const auto children =
                token ? text_elements_until_closed(lines, 3, *token) : std::optional<std::size_t>();
            if (!children || *children == 0)
                return std::nullopt;
        }
    } else {
        return std::nullopt;
    }
    if (lines.next() != "</data>"sv || !lines.atEnd())
        return std::nullopt;
    return end;
}

} // namespace

SeedFileText::SeedFileText(OtpAlgorithm algorithm, std::string bytes) : m_bytes(std::move(bytes))
{
    if (m_bytes.empty()) {
        // The template as the printer lays it out, which the splice takes.
        m_bytes = seed_document_bytes(parse_seed_document(algorithm, ""));
        fromTemplate = true;
    }
    if (const auto end = tokens_end(m_bytes)) {
        m_tokensEnd = end->offset;
        m_noTokens = end->empty;
        return;
    }
    m_tree = std::make_unique<SeedDocument>(parse_seed_document(algorithm, m_bytes));
    wipe(m_bytes.data(), m_bytes.capacity());
    m_bytes.clear();
    unusableReason = m_tree->unusableReason;
}

SeedFileText::~SeedFileText()
{
    wipe(m_bytes.data(), m_bytes.capacity());
}

void SeedFileText::insert(std::size_t at, std::string_view text)
{
    if (m_bytes.size() + text.size() <= m_bytes.capacity()) {
        m_bytes.insert(at, text);
        return;
    }
    // A larger buffer: the old one is wiped before it goes back to the heap.
    std::string larger;
    larger.reserve(std::max(2 * m_bytes.capacity(), m_bytes.size() + text.size()));
    larger.append(m_bytes, 0, at).append(text).append(m_bytes, at);
    wipe(m_bytes.data(), m_bytes.capacity());
    m_bytes.swap(larger);
}

std::string_view SeedFileText::append(const TokenDescription& token)
{
    if (m_tree) {
        std::string bytes = append_seed_token(*m_tree, token);
        wipe(m_bytes.data(), m_bytes.capacity());
        m_bytes.swap(bytes);
        return m_bytes;
    }
    // The element printed on its own at the depth it has in the document
    // gives the very bytes that printing the whole document gives it.
    // An empty tokens element ("<tokens />") opens and closes around it.
    constexpr std::string_view kOpen = "\t<tokens>\n", kClose = "\t</tokens>\n";
    pugi::xml_document element;
    WipingWriter printed;
    if (m_noTokens)
        printed.write(kOpen.data(), kOpen.size());
    append_token_element(element, token)
        .print(printed, "\t", pugi::format_indent, pugi::encoding_utf8, 2);
    if (m_noTokens) {
        printed.write(kClose.data(), kClose.size());
        m_bytes.erase(m_tokensEnd, "\t<tokens />\n"sv.size());
    }
    insert(m_tokensEnd, printed.out);
    m_tokensEnd += printed.out.size() - (m_noTokens ? kClose.size() : 0);
    m_noTokens = false;
    return m_bytes;
}

SeedFileText load_seed_text(OtpAlgorithm algorithm, const std::filesystem::path& folder)
{
    return load_seed_text(algorithm, FileAt(seed_xml_path(algorithm, folder)));
}

SeedFileText load_seed_text(OtpAlgorithm algorithm, const FileAt& xml)
{
    auto bytes = read_seed_xml(xml);
    if (!bytes) {
        SeedFileText text;
        text.unusableReason = bytes.error().detail;
        text.unreadable = true;
        return text;
    }
    return SeedFileText(algorithm, std::move(*bytes));
}

} // namespace otp::records
