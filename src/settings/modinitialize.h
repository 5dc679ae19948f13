#pragma once

// Applies the stored settings to the main window once, at the end of its load: the
// address and port fields, then auto-connect, then start hidden in the tray.
void ApplyStartupSettings();
