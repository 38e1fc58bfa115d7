// The runtime library's process identifier, under its Windows name.
#pragma once

int _getpid();
