// Process entry: hands control to SDL's application runner, which calls the game's main function.
#define SDL_MAIN_HANDLED
#include "app/app.hpp"

#include <SDL3/SDL_main.h>

int main(int argc, char** argv) { return SDL_RunApp(argc, argv, vibrelleMain, nullptr); }
