#pragma once
// HOME and the XDG folders in a temporary tree of the test's own, so nothing a test or a program it
// starts does reaches the real desktop's folders (as root, /etc/xdg/autostart above all).
#include <map>
#include <optional>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <string>
#include <utility>
#include <vector>

class TXdgSandbox
{
public:
    // Makes the folders: home, config, xdg, run (mode 0700), data, cache.
    TXdgSandbox();
    // Puts back the variables Apply changed.
    ~TXdgSandbox();
    TXdgSandbox(const TXdgSandbox &) = delete;
    TXdgSandbox &operator=(const TXdgSandbox &) = delete;

    bool Valid() const { return dir.isValid(); }
    // A folder or file in the tree ("home", "config/autostart/" ...).
    QString Path(const QString &Relative) const { return dir.filePath(Relative); }
    // The variables and their folders.
    std::vector<std::pair<const char *, QString>> Variables() const;
    // Sets the variables in this process until the sandbox ends.
    void Apply();
    // This process's environment with the variables set, for a program the test starts.
    QProcessEnvironment Environment() const;
    std::map<std::string, std::string> EnvironmentMap() const;

private:
    QTemporaryDir dir;
    std::vector<std::pair<const char *, std::optional<QByteArray>>> saved; // nullopt: was unset
};
