// Device link of velmo: the serial worker that reads whole API packets from a port in its own
// thread, the connection objects through which the rest of the program opens, closes, writes and
// lists ports, and the hot-plug monitor that keeps the port list current.
#pragma once

#include "hvconnection.h"
#include "linkdiagnostics.h"
#include "portenumerator.h"
#include "portmonitor.h"
#include "uartdev.h"
#include "uarthvconnection.h"
