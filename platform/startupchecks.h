#pragma once

// True when dpkg reports the update tool's package as installed. A dpkg that cannot be started
// or does not answer in time does not block the start.
bool isUpdateToolInstalled();

// True when the automatic update service is installed, known to systemd and active.
bool isAutoUpdateServiceActive();
