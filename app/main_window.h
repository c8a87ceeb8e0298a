// The tracker's one window, its eight gadgets, their handlers and the menu.
#pragma once

// Opens the window "Navlume" with its gadgets; false when the window system refuses it.
bool CreateMainWindow();
// Binds the four gadget handlers.
void BindGadgetHandlers();
// Builds the window's menu bar: the application menu's About and Quit entries.
void BuildMainMenu();
