#include "platform/hotkeys/X11HotKeyCenter.h"

#include "platform/hotkeys/KeyCodes.h"
#include "platform/Log.h"

#include <QCoreApplication>

#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <memory>

namespace corvane {

namespace {

constexpr quint8 kKeyPress = XCB_KEY_PRESS;
constexpr quint8 kKeyRelease = XCB_KEY_RELEASE;
constexpr quint16 kModifierBits = 0xFF;

Log hotKeyLog()
{
    return Log("hotkeys");
}

struct FreeDeleter {
    void operator()(void *memory) const { std::free(memory); }
};
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

struct KeySymbolsDeleter {
    void operator()(xcb_key_symbols_t *symbols) const { xcb_key_symbols_free(symbols); }
};

// The modifier bits (Mod1 … Mod5) whose keys include one of these keysyms;
// the first such modifier only.
quint16 modifierHolding(xcb_key_symbols_t *symbols, const xcb_get_modifier_mapping_reply_t *mapping,
                        std::initializer_list<xcb_keysym_t> keysyms)
{
    std::set<xcb_keycode_t> keycodes;
    for (xcb_keysym_t keysym : keysyms) {
        Reply<xcb_keycode_t> codes(xcb_key_symbols_get_keycode(symbols, keysym));
        for (const xcb_keycode_t *code = codes.get(); code && *code != XCB_NO_SYMBOL; ++code)
            keycodes.insert(*code);
    }
    const int perModifier = mapping->keycodes_per_modifier;
    const xcb_keycode_t *map =
        xcb_get_modifier_mapping_keycodes(const_cast<xcb_get_modifier_mapping_reply_t *>(mapping));
    for (int modifier = 3; modifier < 8; ++modifier)
        for (int i = 0; i < perModifier; ++i)
            if (map[modifier * perModifier + i] && keycodes.count(map[modifier * perModifier + i]))
                return quint16(1u << modifier);
    return 0;
}

} // namespace

X11HotKeyCenter::X11HotKeyCenter(const X11Display &display) : m_display(display)
{
    readModifierMapping();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyCenter::~X11HotKeyCenter()
{
    for (auto &[combination, state] : m_grabs)
        ungrab(combination, state.variants);
    if (auto *app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
}

bool X11HotKeyCenter::isDisplayAlive() const
{
    const auto current = X11Display::current();
    return current && current->connection == m_display.connection;
}

void X11HotKeyCenter::readModifierMapping()
{
    Masks masks{XCB_MOD_MASK_1, XCB_MOD_MASK_4, 0};
    xcb_connection_t *connection = m_display.connection;
    Reply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter> symbols(
        xcb_key_symbols_alloc(connection));
    if (mapping && symbols) {
        if (quint16 alt =
                modifierHolding(symbols.get(), mapping.get(), {XKB_KEY_Alt_L, XKB_KEY_Alt_R}))
            masks.alt = alt;
        if (quint16 super =
                modifierHolding(symbols.get(), mapping.get(), {XKB_KEY_Super_L, XKB_KEY_Super_R}))
            masks.super = super;
        masks.numLock = modifierHolding(symbols.get(), mapping.get(), {XKB_KEY_Num_Lock});
    }
    m_masks = masks;
}

std::optional<X11HotKeyCenter::Combination>
X11HotKeyCenter::combinationFor(int carbonKeyCode, unsigned carbonModifiers) const
{
    const auto keycode = KeyCodes::xKeycodeForCarbon(carbonKeyCode);
    if (!keycode || *keycode > 255)
        return std::nullopt;
    quint16 modifiers = 0;
    if (carbonModifiers & KeyCodes::cmdKey)
        modifiers |= XCB_MOD_MASK_CONTROL;
    if (carbonModifiers & KeyCodes::shiftKey)
        modifiers |= XCB_MOD_MASK_SHIFT;
    if (carbonModifiers & KeyCodes::optionKey)
        modifiers |= m_masks.alt;
    if (carbonModifiers & KeyCodes::controlKey)
        modifiers |= m_masks.super;
    return Combination{quint8(*keycode), modifiers};
}

std::vector<quint16> X11HotKeyCenter::lockVariants() const
{
    std::vector<quint16> variants{0, XCB_MOD_MASK_LOCK};
    if (m_masks.numLock) {
        variants.push_back(m_masks.numLock);
        variants.push_back(quint16(m_masks.numLock | XCB_MOD_MASK_LOCK));
    }
    return variants;
}

bool X11HotKeyCenter::grab(const Combination &combination, std::vector<quint16> &grabbed)
{
    xcb_connection_t *connection = m_display.connection;
    std::vector<std::pair<quint16, xcb_void_cookie_t>> cookies;
    for (quint16 variant : lockVariants())
        cookies.emplace_back(variant, xcb_grab_key_checked(connection, 0, m_display.root,
                                                           quint16(combination.modifiers | variant),
                                                           combination.keycode, XCB_GRAB_MODE_ASYNC,
                                                           XCB_GRAB_MODE_ASYNC));
    bool refused = false;
    grabbed.clear();
    for (const auto &[variant, cookie] : cookies) {
        Reply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
        if (error)
            refused = true;
        else
            grabbed.push_back(variant);
    }
    if (refused)
        ungrab(combination, grabbed);
    return !refused;
}

void X11HotKeyCenter::ungrab(const Combination &combination, std::vector<quint16> &grabbed)
{
    // At exit the connection may be closed already, and the grabs with it.
    if (!isDisplayAlive())
        grabbed.clear();
    for (quint16 variant : grabbed)
        xcb_ungrab_key(m_display.connection, combination.keycode, m_display.root,
                       quint16(combination.modifiers | variant));
    if (!grabbed.empty())
        xcb_flush(m_display.connection);
    grabbed.clear();
}

bool X11HotKeyCenter::registerHotKey(quint32 id, int carbonKeyCode, unsigned carbonModifiers)
{
    const auto combination = combinationFor(carbonKeyCode, carbonModifiers);
    if (!combination)
        return false;
    GrabState &state = m_grabs[*combination];
    if (state.count == 0) {
        bool free = grab(*combination, state.variants);
        // While suspended the grab only asks the display; resuming makes it.
        if (free && m_suspended)
            ungrab(*combination, state.variants);
        if (!free) {
            m_grabs.erase(*combination);
            hotKeyLog().notice("Hot key %{public}@ is held by another client", carbonKeyCode);
            return false;
        }
    }
    ++state.count;
    m_registrations.push_back({id, *combination});
    return true;
}

void X11HotKeyCenter::unregisterHotKey(quint32 id)
{
    auto found = std::find_if(m_registrations.begin(), m_registrations.end(),
                              [id](const Registration &r) { return r.id == id; });
    if (found == m_registrations.end())
        return;
    const Combination combination = found->combination;
    m_registrations.erase(found);
    auto state = m_grabs.find(combination);
    if (state == m_grabs.end() || --state->second.count > 0)
        return;
    ungrab(combination, state->second.variants);
    m_grabs.erase(state);
    m_held.erase(combination.keycode);
}

void X11HotKeyCenter::setPressHandler(PressHandler handler)
{
    m_pressHandler = std::move(handler);
}

void X11HotKeyCenter::setSuspended(bool suspended)
{
    if (suspended == m_suspended)
        return;
    m_suspended = suspended;
    m_held.clear();
    for (auto &[combination, state] : m_grabs) {
        if (suspended) {
            ungrab(combination, state.variants);
        } else if (!grab(combination, state.variants)) {
            hotKeyLog().notice("Hot key keycode %{public}@ was taken by another client meanwhile",
                               int(combination.keycode));
        }
    }
}

bool X11HotKeyCenter::isHeldElsewhere(int carbonKeyCode, unsigned carbonModifiers)
{
    const auto combination = combinationFor(carbonKeyCode, carbonModifiers);
    // A probe of a combination we grab would succeed and its undoing would
    // drop our own grab.
    if (!combination || m_grabs.count(*combination))
        return false;
    std::vector<quint16> grabbed;
    if (!grab(*combination, grabbed))
        return true;
    ungrab(*combination, grabbed);
    return false;
}

bool X11HotKeyCenter::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    switch (event->response_type & 0x7F) {
    case kKeyPress: {
        const auto *press = static_cast<const xcb_key_press_event_t *>(message);
        return handleKeyPress(press->detail, press->state, press->time);
    }
    case kKeyRelease: {
        const auto *release = static_cast<const xcb_key_release_event_t *>(message);
        handleKeyRelease(release->detail, release->time);
        return false;
    }
    case XCB_MAPPING_NOTIFY: {
        const auto *mapping = static_cast<const xcb_mapping_notify_event_t *>(message);
        if (mapping->request == XCB_MAPPING_MODIFIER)
            readModifierMapping();
        return false;
    }
    default: return false;
    }
}

bool X11HotKeyCenter::handleKeyPress(quint8 keycode, quint16 state, quint32 time)
{
    if (m_suspended)
        return false;
    const quint16 locks = quint16(XCB_MOD_MASK_LOCK | m_masks.numLock);
    const Combination pressed{keycode, quint16(state & kModifierBits & ~locks)};
    auto newest = std::find_if(m_registrations.rbegin(), m_registrations.rend(),
                               [&](const Registration &r) { return r.combination == pressed; });
    if (newest == m_registrations.rend())
        return false;
    // Auto-repeat: presses while held, or a release and press of one instant
    // when the server does not report repeats as such.
    auto released = m_releaseTimes.find(keycode);
    const bool repeat =
        m_held.count(keycode) || (released != m_releaseTimes.end() && released->second == time);
    m_held.insert(keycode);
    if (!repeat && m_pressHandler)
        m_pressHandler(newest->id);
    return true;
}

void X11HotKeyCenter::handleKeyRelease(quint8 keycode, quint32 time)
{
    if (m_held.erase(keycode))
        m_releaseTimes[keycode] = time;
}

} // namespace corvane
