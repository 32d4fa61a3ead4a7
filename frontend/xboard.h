// The xboard/WinBoard (protocol version 2) loop.
#pragma once
void XboardLoop();
