# Warnings every target of the project compiles with.
add_compile_options(-Wall -Wextra)
