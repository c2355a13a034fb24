// Keeps the application library buildable before its first unit lands.
