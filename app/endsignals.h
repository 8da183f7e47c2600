#pragma once

// SIGTERM, SIGINT and SIGHUP end the program as its close boxes do: the port is closed,
// its lock released, and what is queued still reaches the line. A second one stops waiting.
// Also closes the ports when the process ends from inside the toolkit (a lost display).
void closePortsAtEveryEnd();
// Whether a stop signal is ending the program.
bool endingBySignal();
