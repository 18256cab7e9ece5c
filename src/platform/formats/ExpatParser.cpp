#include "platform/formats/ExpatParser.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace corvane {

namespace {

constexpr std::size_t maxTreeBytes = std::size_t(32) << 20;

// expat's allocator takes no context: the budget of the parser being made or
// run on this thread is found here, and each block remembers its own.
thread_local ExpatParser::Budget *currentBudget = nullptr;

struct alignas(std::max_align_t) Header {
    ExpatParser::Budget *budget;
    std::size_t size;
};

void *allocate(std::size_t size)
{
    ExpatParser::Budget *budget = currentBudget;
    if (!budget || size > budget->limit - budget->used)
        return nullptr;
    auto *header = static_cast<Header *>(std::malloc(sizeof(Header) + size));
    if (!header)
        return nullptr;
    *header = {budget, size};
    budget->used += size;
    return header + 1;
}

void release(void *block)
{
    if (!block)
        return;
    Header *header = static_cast<Header *>(block) - 1;
    header->budget->used -= header->size;
    std::free(header);
}

void *reallocate(void *block, std::size_t size)
{
    if (!block)
        return allocate(size);
    Header *header = static_cast<Header *>(block) - 1;
    ExpatParser::Budget *budget = header->budget;
    if (size > header->size && size - header->size > budget->limit - budget->used)
        return nullptr;
    auto *moved = static_cast<Header *>(std::realloc(header, sizeof(Header) + size));
    if (!moved)
        return nullptr;
    budget->used = budget->used - moved->size + size;
    moved->size = size;
    return moved + 1;
}

const XML_Memory_Handling_Suite budgeted = {allocate, reallocate, release};

// The budget in force while expat runs on this thread.
class BudgetScope {
public:
    explicit BudgetScope(ExpatParser::Budget &budget)
        : m_saved(std::exchange(currentBudget, &budget))
    {
    }
    ~BudgetScope() { currentBudget = m_saved; }
    BudgetScope(const BudgetScope &) = delete;
    BudgetScope &operator=(const BudgetScope &) = delete;

private:
    ExpatParser::Budget *m_saved;
};

} // namespace

ExpatParser::ExpatParser(const char *encoding)
{
    m_budget.limit = maxTreeBytes;
    const BudgetScope scope(m_budget);
    m_parser = XML_ParserCreate_MM(encoding, &budgeted, nullptr);
    if (!m_parser)
        throw std::bad_alloc();
}

ExpatParser::~ExpatParser()
{
    XML_ParserFree(m_parser);
}

std::optional<XmlFault> ExpatParser::parse(std::string_view text)
{
    // expat copies what it is given into a buffer of up to twice its size.
    // The whole text goes in one call where it can: a token cut between
    // calls is scanned again from its start with each one.
    constexpr std::size_t maxChunk = std::size_t(1) << 30;
    m_budget.limit += 2 * std::min(text.size(), maxChunk) + 4096;
    m_text = text;
    const BudgetScope scope(m_budget);
    XML_Status status = XML_STATUS_OK;
    do {
        const std::size_t size = std::min(text.size(), maxChunk);
        const bool last = size == text.size();
        status = XML_Parse(m_parser, text.data(), int(size), last);
        text.remove_prefix(size);
        if (last)
            break;
    } while (status == XML_STATUS_OK);
    if (m_thrown)
        std::rethrow_exception(m_thrown);
    if (status == XML_STATUS_OK)
        return std::nullopt;
    const XML_Error error = XML_GetErrorCode(m_parser);
    if (error == XML_ERROR_NO_MEMORY)
        throw std::bad_alloc();
    return XmlFault{XML_ErrorString(error), int(XML_GetCurrentLineNumber(m_parser)),
                    int(XML_GetCurrentColumnNumber(m_parser)) + 1};
}

bool ExpatParser::refersToEntity(int index) const
{
    // The tag is well-formed: its quoted texts are its values, in order.
    const XML_Index start = XML_GetCurrentByteIndex(m_parser);
    if (start < 0 || std::size_t(start) >= m_text.size())
        return false;
    std::string_view tag =
        m_text.substr(std::size_t(start), std::size_t(XML_GetCurrentByteCount(m_parser)));
    for (;; --index) {
        const std::size_t open = tag.find_first_of("\"'");
        const std::size_t close =
            open == std::string_view::npos ? open : tag.find(tag[open], open + 1);
        if (close == std::string_view::npos)
            return false;
        if (index == 0) {
            const std::string_view value = tag.substr(open + 1, close - open - 1);
            for (std::size_t at = value.find('&'); at != std::string_view::npos;
                 at = value.find('&', at + 1)) {
                if (value.substr(at + 1, 1) != "#")
                    return true;
            }
            return false;
        }
        tag.remove_prefix(close + 1);
    }
}

} // namespace corvane
