#pragma once
#include "probe/CheckThread.h"
#include <QByteArray>
#include <string>
#include <vector>

// The ports an extended system must accept after its own, in this order: the check runner connects to
// each and closes again (TimeOut div 4 each, ended by the first refusal) before the library call.
inline constexpr uint16_t PlusSweepPorts[] = {27101, 27103, 27105, 27106};
inline constexpr int32_t PlusListPort = 27101;
inline constexpr int DeviceListBufferSize = 8192;

using TGetDeviceList
    = int32_t (*)(const char *host, int32_t port, int32_t timeoutMs, char *buffer, uint16_t *length);

// Where the device-list library is looked for: the program's own folder (as found at the first call),
// then the loader's path.
const std::vector<std::string> &DeviceListLibraryCandidates();

// Loads the first library of Libraries that loads, calls GetDeviceList and unloads it again.
// psReport with the list in Report, or psConnected when there is no list.
int32_t FetchDeviceList(
    const std::vector<std::string> &Libraries, const std::string &Host, int32_t TimeOut, QByteArray &Report);
