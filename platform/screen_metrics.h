// The phone's screen as the windows measure it.
#pragma once

// Layout scale factor: 1 on 240-pixel screens, 2 on 480-pixel ones; 0 on screens too small for the layout.
int ComputeScale(int screenWidth, int screenHeight);

// The scale factor of this screen.
int GetScreenScale();

// Height of the soft-key menu bar strip at the bottom of the screen: 26 units.
int GetMenuBarHeight();
