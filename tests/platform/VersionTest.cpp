#include "platform/Version.h"
#include <gtest/gtest.h>
#include <QFileInfo>

TEST(Version, CompiledInVersionAndCaption)
{
    EXPECT_EQ(GetVersionString(), QStringLiteral("2.1"));
    EXPECT_EQ(GetCaption(), QStringLiteral("ZYRdenetleyici 2.1"));
}

TEST(Version, ProgramFileAndFolder)
{
    const QString path = ProgramFilePath();
    EXPECT_EQ(path, QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    EXPECT_TRUE(ProgramFolder().endsWith(QLatin1Char('/')));
    EXPECT_EQ(ProgramFolder() + QFileInfo(path).fileName(), path);
}
