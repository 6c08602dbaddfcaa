// Names of every message and of its parameters, in message_table's order, generated from the API definition
// file; the simulated module prints its traffic with them.
#pragma once

#include "messagetable.h"

struct message_param_name {
    const char *name;
    const char *type; // the definition file's type name ("uint8" ... "ipv4")
};

struct message_names {
    const char *full_name;
    int param_count;
    message_param_name params[8];
};

extern const message_names message_name_table[message_count];
