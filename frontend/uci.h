// The Universal Chess Interface loop.
#pragma once
void UciLoop();
