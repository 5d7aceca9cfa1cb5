// Program launcher and clock label.
