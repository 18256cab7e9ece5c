#pragma once

#include <QString>

namespace corvane {

// What the program tells about itself: its name, its version for people and
// its build number. An empty field counts as missing.
struct BundleInfo {
    QString name;
    QString shortVersion;
    QString build;

    // The application's name and the version and build this binary was made with.
    static BundleInfo main();
};

// Who makes the program and where its home page is.
inline constexpr const char *kMakerName = "Quendrith";
inline constexpr const char *kHomePage = "https://quendrith.com/corvane/";

} // namespace corvane
