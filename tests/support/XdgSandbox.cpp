#include "XdgSandbox.h"

#include <QDir>
#include <QFile>

namespace {

const std::pair<const char *, const char *> kFolders[]
    = {{"HOME", "home"}, {"XDG_CONFIG_HOME", "config"}, {"XDG_CONFIG_DIRS", "xdg"},
        {"XDG_RUNTIME_DIR", "run"}, {"XDG_DATA_HOME", "data"}, {"XDG_CACHE_HOME", "cache"}};

} // namespace

TXdgSandbox::TXdgSandbox()
{
    for (const auto &[name, folder] : kFolders)
        QDir(dir.path()).mkpath(QLatin1String(folder));
    // Qt and the single-instance lock refuse a runtime folder that others may enter.
    QFile::setPermissions(
        Path(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TXdgSandbox::~TXdgSandbox()
{
    for (const auto &[name, value] : saved) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
}

std::vector<std::pair<const char *, QString>> TXdgSandbox::Variables() const
{
    std::vector<std::pair<const char *, QString>> variables;
    for (const auto &[name, folder] : kFolders)
        variables.emplace_back(name, Path(QLatin1String(folder)));
    return variables;
}

void TXdgSandbox::Apply()
{
    for (const auto &[name, path] : Variables()) {
        saved.emplace_back(
            name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        qputenv(name, QFile::encodeName(path));
    }
}

QProcessEnvironment TXdgSandbox::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto &[name, path] : Variables())
        env.insert(QLatin1String(name), path);
    return env;
}

std::map<std::string, std::string> TXdgSandbox::EnvironmentMap() const
{
    std::map<std::string, std::string> env;
    for (const auto &[name, path] : Variables())
        env[name] = path.toStdString();
    return env;
}
