// The question that opens every run.
#pragma once

// 1 when the user answered Yes, else 0.
int ShowWelcome();
