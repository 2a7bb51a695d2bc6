// The end of the process after the last message loop: location, network, then the application object.
#pragma once

void ShutDownApplication();
