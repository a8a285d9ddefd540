# The README's pictures, from the programs' own output:
#   gnuplot -e "report='REPORT'" -e "converted='SMOOTH2'" -e "pictures='DIR'" doc/pictures.gp
# where REPORT is what integral_table printed and SMOOTH2 a smooth2.txt;
# `cmake --workflow --preset pictures` runs both programs and this script.
set terminal svg size 800,450 dynamic noenhanced font "sans,12"
set grid
set key top left

# The report: three lines (an empty one, the coefficients, another empty
# one) before the rows; t is column 2, sin(t)/t column 3, the running
# integral column 5.
set output pictures."/report.svg"
set title "integral_table: the samples of sin(t)/t and their running integral"
set xlabel "t"
plot report skip 3 using 2:3 with linespoints pointtype 7 pointsize 0.3 title "sin(t)/t", \
     report skip 3 using 2:5 with lines linewidth 2 title "integral from -15 to t"

# smooth2.txt: four header lines, then x and y.
set output pictures."/example.svg"
set title "smooth_convert: the bundled example, y against x"
set xlabel "x"
set ylabel "y"
plot converted skip 4 using 1:2 with lines linewidth 2 title "examples/smooth1.txt, converted"
