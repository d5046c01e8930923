#ifndef CONNECTION_H
#define CONNECTION_H

#include <QString>

// Connection state shared by the polling tick and the connect button:
// 0 idle, 1 opened, 2 polling, 3 closing.
extern int iConnectionState;
// Ticks left before the next keep-alive; its phase carries over between connections.
extern int iKeepAliveCountdown;

constexpr int iPollingIntervalMs = 750;

// Environment variable with extra device paths (colon-separated) for the port list,
// so that pseudo-terminals such as the simulated board can be chosen.
constexpr const char *sExtraPortsVariable = "AUX_NVRAM_EXTRA_PORTS";

#endif // CONNECTION_H
