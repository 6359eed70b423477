#pragma once

// Where the person's music collection is read from. The preferences keep it
// as the number each choice has always had there.
enum class LibraryChoice {
    MusicPlayer = 1,   // the music player's library (MPD)
    MusicFolder = 2,   // the Music folder of the home folder
    ChosenFolders = 3, // the folders the person listed
};

// The choice a stored number names: any number but 1 and 2 means the chosen
// folders, as the scan has always taken it.
constexpr LibraryChoice libraryChoiceFrom(int stored) {
    switch (stored) {
    case 1:
        return LibraryChoice::MusicPlayer;
    case 2:
        return LibraryChoice::MusicFolder;
    default:
        return LibraryChoice::ChosenFolders;
    }
}
