// Exit statuses shared by every tool of the project.
#pragma once

constexpr int kStatusComplete = 0;   // every output written in full
constexpr int kStatusDataError = 1;  // bad data, bad length, no memory
constexpr int kStatusIoError = 2;    // usage error, a file that cannot be opened, read or written
