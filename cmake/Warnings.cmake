# -Wall -Wextra -Werror on every target of the project (MinGW takes the same flags).
add_compile_options(-Wall -Wextra -Werror)
