#include "FixtureTestSupport.h"

namespace corvane::fixture::checks {

QStringList coreSimulatorProcessLines()
{
    const RunResult result =
        FixtureTree::run("/bin/ps", {"-e", "-ww", "-o", "pid=,tty=,time=,args="});
    QStringList lines;
    for (const QString &line : QString::fromUtf8(result.out).split('\n')) {
        if (line.contains("CoreSimulator"))
            lines.append(line);
    }
    return lines;
}

SmallTree::SmallTree(bool booted, const XcodeSpec &spec)
{
    xcode = tree.addXcode(spec);
    tree.selectXcode(xcode);
    tree.addRuntime("iOS", "17.5");
    udid = tree.addDevice({"iPhone 15 Pro", {}, "iOS 17.5", booted, {}});
}

AppSpec sampleApp()
{
    AppSpec spec;
    spec.identifier = "com.example.sample";
    spec.name = "Sample";
    spec.schemes = {"sample"};
    spec.groups = {"group.com.example.shared"};
    return spec;
}

} // namespace corvane::fixture::checks
