// Keeps the adapter library non-empty until its first adapter lands.
