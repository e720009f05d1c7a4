#pragma once
#include "probe/CheckThread.h"
#include <QByteArray>
#include <string>
#include <vector>

// The ports an extended system must accept after its own, in this order.
inline constexpr uint16_t PlusSweepPorts[] = {27101, 27103, 27105, 27106};
inline constexpr int32_t PlusListPort = 27101;
inline constexpr int DeviceListBufferSize = 8192;

using TGetDeviceList
    = int32_t (*)(const char *host, int32_t port, int32_t timeoutMs, char *buffer, uint16_t *length);

// Connects to the port (0: the address's own) within limitMs and closes again at once. LocalFailure (when
// given) tells whether a refusal was this machine's: no descriptor, buffer or local port to be had.
bool TestPort(const TProbeTarget &Address, uint16_t Port, int LimitMs, bool *LocalFailure = nullptr);

// The sweep: own port, then PlusSweepPorts, each within TimeOut div 4; stops at the first refusal.
bool SweepPlusPorts(const TProbeTarget &Address, int32_t TimeOut, bool *LocalFailure = nullptr);

// Where the device-list library is looked for: the program's own folder, then the loader's path.
std::vector<std::string> DeviceListLibraryCandidates();

// Loads the first library of Libraries that loads, calls GetDeviceList and unloads it again.
// psReport with the list in Report, or psConnected when there is no list.
int32_t FetchDeviceList(
    const std::vector<std::string> &Libraries, const std::string &Host, int32_t TimeOut, QByteArray &Report);

// The whole extended probe after the address is split. When LocalFailure is given and the sweep stopped
// for want of a local resource, it is set and the state says nothing about the system.
int32_t RunPlusProbe(const TProbeTarget &Address, int32_t TimeOut, const std::vector<std::string> &Libraries,
    QByteArray &Report, bool *LocalFailure = nullptr);
