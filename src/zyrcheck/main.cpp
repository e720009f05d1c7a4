// zyrcheck: the console's check for monitoring engines, as a plugin or as a Prometheus exporter.
#include "zyrcheck/Exporter.h"
#include "zyrcheck/Plugin.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    bool exporter = false;
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--listen") == 0 || strncmp(argv[i], "--listen=", 9) == 0)
            exporter = true;
    if (!exporter)
        return RunPlugin(argc, argv);

    TExporterOptions options;
    std::string error;
    bool help = false;
    if (!ParseExporterOptions(argc, argv, options, error, help)) {
        fprintf(stderr, "zyrcheck: %s\n%s", error.c_str(), ExporterHelp().c_str());
        return 2;
    }
    if (help) {
        fputs(ExporterHelp().c_str(), stdout);
        return 0;
    }
    return RunExporter(options);
}
