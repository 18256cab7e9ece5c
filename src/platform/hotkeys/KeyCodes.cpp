#include "platform/hotkeys/KeyCodes.h"

#include <array>
#include <map>
#include <unordered_map>

namespace corvane::KeyCodes {

namespace {

// The kernel numbers keys in <linux/input-event-codes.h>; X adds 8.
constexpr int kEvdevOffset = 8;

struct KeyPosition {
    int carbon;
    int evdev;
};

// One row per key: letters, digits and punctuation where they sit on an ANSI
// keyboard; Help on Insert and keypad Clear on Num Lock, where PC keyboards
// have those keys; the Japanese keys on their kernel counterparts.
constexpr std::array kPositions{
    KeyPosition{0, 30},    KeyPosition{1, 31},    KeyPosition{2, 32},    KeyPosition{3, 33},
    KeyPosition{4, 35},    KeyPosition{5, 34},    KeyPosition{6, 44},    KeyPosition{7, 45},
    KeyPosition{8, 46},    KeyPosition{9, 47},    KeyPosition{10, 86},   KeyPosition{11, 48},
    KeyPosition{12, 16},   KeyPosition{13, 17},   KeyPosition{14, 18},   KeyPosition{15, 19},
    KeyPosition{16, 21},   KeyPosition{17, 20},   KeyPosition{18, 2},    KeyPosition{19, 3},
    KeyPosition{20, 4},    KeyPosition{21, 5},    KeyPosition{22, 7},    KeyPosition{23, 6},
    KeyPosition{24, 13},   KeyPosition{25, 10},   KeyPosition{26, 8},    KeyPosition{27, 12},
    KeyPosition{28, 9},    KeyPosition{29, 11},   KeyPosition{30, 27},   KeyPosition{31, 24},
    KeyPosition{32, 22},   KeyPosition{33, 26},   KeyPosition{34, 23},   KeyPosition{35, 25},
    KeyPosition{36, 28},   KeyPosition{37, 38},   KeyPosition{38, 36},   KeyPosition{39, 40},
    KeyPosition{40, 37},   KeyPosition{41, 39},   KeyPosition{42, 43},   KeyPosition{43, 51},
    KeyPosition{44, 53},   KeyPosition{45, 49},   KeyPosition{46, 50},   KeyPosition{47, 52},
    KeyPosition{48, 15},   KeyPosition{49, 57},   KeyPosition{50, 41},   KeyPosition{51, 14},
    KeyPosition{53, 1},    KeyPosition{54, 97},   KeyPosition{55, 29},   KeyPosition{56, 42},
    KeyPosition{57, 58},   KeyPosition{58, 56},   KeyPosition{59, 125},  KeyPosition{60, 54},
    KeyPosition{61, 100},  KeyPosition{62, 126},  KeyPosition{64, 187},  KeyPosition{65, 83},
    KeyPosition{67, 55},   KeyPosition{69, 78},   KeyPosition{71, 69},   KeyPosition{72, 115},
    KeyPosition{73, 114},  KeyPosition{74, 113},  KeyPosition{75, 98},   KeyPosition{76, 96},
    KeyPosition{78, 74},   KeyPosition{79, 188},  KeyPosition{80, 189},  KeyPosition{81, 117},
    KeyPosition{82, 82},   KeyPosition{83, 79},   KeyPosition{84, 80},   KeyPosition{85, 81},
    KeyPosition{86, 75},   KeyPosition{87, 76},   KeyPosition{88, 77},   KeyPosition{89, 71},
    KeyPosition{90, 190},  KeyPosition{91, 72},   KeyPosition{92, 73},   KeyPosition{93, 124},
    KeyPosition{94, 89},   KeyPosition{95, 95},   KeyPosition{96, 63},   KeyPosition{97, 64},
    KeyPosition{98, 65},   KeyPosition{99, 61},   KeyPosition{100, 66},  KeyPosition{101, 67},
    KeyPosition{102, 123}, KeyPosition{103, 87},  KeyPosition{104, 122}, KeyPosition{105, 183},
    KeyPosition{106, 186}, KeyPosition{107, 184}, KeyPosition{109, 68},  KeyPosition{110, 127},
    KeyPosition{111, 88},  KeyPosition{113, 185}, KeyPosition{114, 110}, KeyPosition{115, 102},
    KeyPosition{116, 104}, KeyPosition{117, 111}, KeyPosition{118, 62},  KeyPosition{119, 107},
    KeyPosition{120, 60},  KeyPosition{121, 109}, KeyPosition{122, 59},  KeyPosition{123, 105},
    KeyPosition{124, 106}, KeyPosition{125, 108}, KeyPosition{126, 103},
};

struct Tables {
    std::vector<std::pair<int, int>> pairs;
    std::unordered_map<int, int> toX;
    std::unordered_map<int, int> toCarbon;
};

const Tables &tables()
{
    static const Tables built = [] {
        Tables t;
        for (const KeyPosition &position : kPositions) {
            const int x = position.evdev + kEvdevOffset;
            t.pairs.emplace_back(position.carbon, x);
            t.toX.emplace(position.carbon, x);
            t.toCarbon.emplace(x, position.carbon);
        }
        return t;
    }();
    return built;
}

// What each key types on a US keyboard; the keypad's keys as their labels.
const std::unordered_map<int, QString> &usCharacters()
{
    static const std::unordered_map<int, QString> characters{
        {0, "a"},   {1, "s"},  {2, "d"},  {3, "f"},  {4, "h"},  {5, "g"},  {6, "z"},  {7, "x"},
        {8, "c"},   {9, "v"},  {11, "b"}, {12, "q"}, {13, "w"}, {14, "e"}, {15, "r"}, {16, "y"},
        {17, "t"},  {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {24, "="},
        {25, "9"},  {26, "7"}, {27, "-"}, {28, "8"}, {29, "0"}, {30, "]"}, {31, "o"}, {32, "u"},
        {33, "["},  {34, "i"}, {35, "p"}, {37, "l"}, {38, "j"}, {39, "'"}, {40, "k"}, {41, ";"},
        {42, "\\"}, {43, ","}, {44, "/"}, {45, "n"}, {46, "m"}, {47, "."}, {50, "`"}, {65, "."},
        {67, "*"},  {69, "+"}, {75, "/"}, {78, "-"}, {81, "="}, {82, "0"}, {83, "1"}, {84, "2"},
        {85, "3"},  {86, "4"}, {87, "5"}, {88, "6"}, {89, "7"}, {91, "8"}, {92, "9"},
    };
    return characters;
}

} // namespace

std::optional<int> xKeycodeForCarbon(int carbonKeyCode)
{
    const auto &toX = tables().toX;
    if (auto found = toX.find(carbonKeyCode); found != toX.end())
        return found->second;
    return std::nullopt;
}

std::optional<int> carbonForXKeycode(int xKeycode)
{
    const auto &toCarbon = tables().toCarbon;
    if (auto found = toCarbon.find(xKeycode); found != toCarbon.end())
        return found->second;
    return std::nullopt;
}

const std::vector<std::pair<int, int>> &carbonToXKeycodes()
{
    return tables().pairs;
}

std::optional<QString> usLayoutCharacter(int carbonKeyCode)
{
    const auto &characters = usCharacters();
    if (auto found = characters.find(carbonKeyCode); found != characters.end())
        return found->second;
    return std::nullopt;
}

std::optional<int> carbonForUSLayoutCharacter(const QString &character)
{
    // The main block's keys win over the keypad's that type the same.
    static const std::map<QString, int> keys = [] {
        std::map<QString, int> byCharacter;
        for (const auto &[code, text] : usCharacters()) {
            auto [found, inserted] = byCharacter.emplace(text, code);
            if (!inserted && code < found->second)
                found->second = code;
        }
        return byCharacter;
    }();
    if (auto found = keys.find(character.toLower()); found != keys.end())
        return found->second;
    return std::nullopt;
}

} // namespace corvane::KeyCodes
